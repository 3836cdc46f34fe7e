#include "app/DiagnosisDock.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>

using namespace QtCharts;

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// More points than the plot has pixel columns draw nothing new: each column
// keeps its lowest and highest point, in time order, so that a spike survives.
QVector<QPointF> Thin(const QVector<QPointF>& in, int columns, double from, double to) {
  if (in.size() <= 2 * columns || to <= from) return in;
  QVector<QPointF> out;
  out.reserve(2 * columns + 2);
  int column = -1;
  QPointF low, high;
  auto flush = [&] {
    if (column < 0) return;
    out << (low.x() <= high.x() ? low : high);
    if (low != high) out << (low.x() <= high.x() ? high : low);
  };
  for (const QPointF& p : in) {
    const int c = static_cast<int>((p.x() - from) / (to - from) * columns);
    if (c != column) {
      flush();
      column = c;
      low = high = p;
    } else if (p.y() < low.y()) {
      low = p;
    } else if (p.y() > high.y()) {
      high = p;
    }
  }
  flush();
  return out;
}

// A value range that shows the data with a margin; counts start at zero.
void FitAxis(QValueAxis* axis, double lo, double hi, bool fromZero) {
  if (lo > hi) lo = hi = 0.0;  // no data
  if (fromZero) lo = 0.0;
  const double pad = std::max({1.0, (hi - lo) * 0.1, std::abs(hi) * 0.05});
  axis->setRange(fromZero ? 0.0 : lo - pad, hi + pad);
  axis->applyNiceNumbers();
}

}  // namespace

DiagnosisDock::DiagnosisDock(QWidget* parent) : QDockWidget(tr("诊断"), parent) {
  setObjectName("diagnosisDock");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(3, 3, 3, 3);
  auto* spanRow = new QHBoxLayout();
  spanRow->addWidget(new QLabel(tr("时间跨度（横轴：秒）"), body));
  spanBox = new QComboBox(body);
  spanBox->setObjectName("spanBox");
  for (int s : kSpansSeconds) spanBox->addItem(s < 60 ? tr("%1 秒").arg(s) : tr("%1 分钟").arg(s / 60), s);
  spanBox->setCurrentIndex(spanBox->findData(kDefaultSpanSeconds));
  spanRow->addWidget(spanBox);
  spanRow->addStretch();
  layout->addLayout(spanRow);

  plots.push_back(MakePlot("speedPlot", {tr("转速 (r/min)")}, {QColor(30, 90, 220)}, false));
  plots.push_back(
      MakePlot("pointsPlot", {tr("每圈点数"), tr("每圈空点数")}, {QColor(20, 150, 60), QColor(230, 120, 0)}, false));
  plots.push_back(
      MakePlot("packetsPlot", {tr("包/秒"), tr("CRC错误/秒")}, {QColor(30, 90, 220), QColor(210, 30, 30)}, true));
  plots.push_back(MakePlot("skippedPlot", {tr("丢弃字节/秒")}, {QColor(140, 60, 180)}, false));
  for (const Plot& p : plots) layout->addWidget(p.view, 1);
  setWidget(body);
  setMinimumWidth(360);

  connect(spanBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DiagnosisDock::Refresh);
}

DiagnosisDock::Plot DiagnosisDock::MakePlot(const QString& objectName, const QStringList& names,
                                            const std::vector<QColor>& colours, bool secondAxis) {
  Plot p;
  p.chart = new QChart();
  p.chart->setMargins(QMargins(0, 0, 0, 0));
  p.chart->setBackgroundRoundness(0);
  // Small print, so that four plots fit beside the view with readable numbers.
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.75);
  p.chart->setTitleFont(small);
  p.chart->legend()->setFont(small);
  p.chart->legend()->setVisible(names.size() > 1);
  if (names.size() == 1) p.chart->setTitle(names[0]);
  auto makeAxis = [&](Qt::Alignment side, int ticks, const char* format) {
    auto* axis = new QValueAxis(p.chart);
    axis->setLabelFormat(format);
    axis->setLabelsFont(small);
    axis->setTickCount(ticks);
    p.chart->addAxis(axis, side);
    return axis;
  };
  p.time = makeAxis(Qt::AlignBottom, 5, "%d");  // seconds before now
  // Values from a fraction of one (a quiet link) to tens of thousands (bytes at the highest rate).
  p.left = makeAxis(Qt::AlignLeft, 3, "%.5g");
  if (secondAxis) p.right = makeAxis(Qt::AlignRight, 3, "%.5g");
  for (int i = 0; i < names.size(); ++i) {
    auto* series = new QLineSeries(p.chart);
    series->setName(names[i]);
    series->setPen(QPen(colours[static_cast<size_t>(i)], 2));
    p.chart->addSeries(series);
    series->attachAxis(p.time);
    series->attachAxis(i == 1 && p.right ? p.right : p.left);
    if (p.right) (i == 1 ? p.right : p.left)->setLinePenColor(colours[static_cast<size_t>(i)]);
    p.series.push_back(series);
  }
  p.view = new QChartView(p.chart);
  p.view->setObjectName(objectName);
  p.view->setMinimumHeight(140);
  return p;
}

int DiagnosisDock::SpanSeconds() const { return spanBox->currentData().toInt(); }

void DiagnosisDock::AddRevolution(const RevolutionFigures& f) {
  revolutions.push_back({f.timeMs, f.speedRpm, f.points, f.emptyPoints});
  DropOld(f.timeMs);
  // Redrawn in the same pass of the event loop as the revolution's frame, so
  // that the window is composed once for both.
  if (isVisible() && NowMs() - lastRefreshMs >= kRefreshMs) Refresh();
}

void DiagnosisDock::AddLinkSample(const KXLinkStats& stats, qint64 timeMs) {
  const int64_t elapsed = timeMs - lastLinkMs;
  // The first sample, or one after a pause (a new connection), only sets the base.
  if (haveLink && elapsed > 0 && elapsed <= 3000) {
    auto rate = [elapsed](uint64_t now, uint64_t before) {
      return now >= before ? static_cast<double>(now - before) * 1000.0 / static_cast<double>(elapsed) : 0.0;
    };
    seconds.push_back({timeMs, rate(stats.packets, lastLink.packets), rate(stats.crcErrors, lastLink.crcErrors),
                       rate(stats.skippedBytes, lastLink.skippedBytes)});
  }
  haveLink = true;
  lastLink = stats;
  lastLinkMs = timeMs;
  DropOld(timeMs);
  if (isVisible()) Refresh();  // with the status line's new text
}

void DiagnosisDock::DropOld(int64_t nowMs) {
  const int64_t oldest = nowMs - 1000LL * kSpansSeconds[std::size(kSpansSeconds) - 1];
  while (!revolutions.empty() && (revolutions.front().timeMs < oldest || revolutions.size() > kMaxRevolutions))
    revolutions.pop_front();
  while (!seconds.empty() && (seconds.front().timeMs < oldest || seconds.size() > kMaxRevolutions)) seconds.pop_front();
}

void DiagnosisDock::showEvent(QShowEvent* event) {
  QDockWidget::showEvent(event);
  Refresh();
}

void DiagnosisDock::Refresh() {
  if (frozen) return;
  const int64_t now = NowMs();
  lastRefreshMs = now;
  DropOld(now);
  const double span = SpanSeconds();
  const int64_t from = now - static_cast<int64_t>(span * 1000.0);
  // x: seconds before now. y: one vector per series.
  auto x = [now](int64_t t) { return static_cast<double>(t - now) / 1000.0; };
  std::vector<QVector<QPointF>> data(6);
  for (const Revolution& r : revolutions) {
    if (r.timeMs < from) continue;
    data[0] << QPointF(x(r.timeMs), r.speedRpm);
    data[1] << QPointF(x(r.timeMs), r.points);
    data[2] << QPointF(x(r.timeMs), r.emptyPoints);
  }
  for (const Second& s : seconds) {
    if (s.timeMs < from) continue;
    data[3] << QPointF(x(s.timeMs), s.packets);
    data[4] << QPointF(x(s.timeMs), s.crcErrors);
    data[5] << QPointF(x(s.timeMs), s.skippedBytes);
  }
  size_t next = 0;
  for (Plot& p : plots) {
    p.time->setRange(-span, 0.0);
    const int columns = std::max(50, static_cast<int>(p.chart->plotArea().width()));
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (size_t i = 0; i < p.series.size(); ++i, ++next) {
      const size_t axis = i == 1 && p.right ? 1 : 0;
      for (const QPointF& q : data[next]) {
        lo[axis] = std::min(lo[axis], q.y());
        hi[axis] = std::max(hi[axis], q.y());
      }
      p.series[i]->replace(Thin(data[next], columns, -span, 0.0));
    }
    // Speed aside, every plot counts and starts at zero.
    FitAxis(p.left, lo[0], hi[0], &p != &plots[0]);
    if (p.right) FitAxis(p.right, lo[1], hi[1], true);
  }
}
