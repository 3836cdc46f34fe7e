#include "app/DiagnosisDock.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
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

// Speeds: a range that shows the data with a margin.
void FitSpeedAxis(QValueAxis* axis, double lo, double hi) {
  if (lo > hi) lo = hi = 0.0;  // no data
  const double pad = std::max({1.0, (hi - lo) * 0.1, std::abs(hi) * 0.05});
  axis->setRange(lo - pad, hi + pad);
  axis->applyNiceNumbers();
}

// Counts, and counts per second, from zero with whole-number ticks: a step of
// 1, 2 or 5 times a power of ten, at most four steps to the top.
void FitCountAxis(QValueAxis* axis, double hi) {
  const double top = std::max(1.0, hi * 1.1);
  double step = 1.0;
  for (double scale = 1.0; top / step > 4.0; scale *= 10.0) {
    for (double m : {1.0, 2.0, 5.0}) {
      step = m * scale;
      if (top / step <= 4.0) break;
    }
  }
  axis->setTickInterval(step);
  axis->setRange(0.0, std::ceil(top / step) * step);
}

// Whole seconds between the time axis' ticks for a span: a round step that
// divides it evenly, six steps at most.
int TimeTickSeconds(int spanSeconds) {
  for (int step : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600})
    if (spanSeconds % step == 0 && spanSeconds / step <= 6) return step;
  return std::max(1, spanSeconds);
}

}  // namespace

DiagnosisDock::DiagnosisDock(QWidget* parent) : QDockWidget(tr("诊断"), parent) {
  setObjectName("diagnosisDock");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(3, 3, 3, 3);
  sourceLabel = new QLabel(body);
  sourceLabel->setObjectName("diagnosisSource");
  layout->addWidget(sourceLabel);
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
  // Ticks at whole steps from 0, for even time ticks and whole counts.
  auto makeAxis = [&](Qt::Alignment side, bool whole) {
    auto* axis = new QValueAxis(p.chart);
    axis->setLabelsFont(small);
    if (whole) {
      axis->setLabelFormat("%d");
      axis->setTickType(QValueAxis::TicksDynamic);
      axis->setTickAnchor(0.0);
      axis->setTickInterval(1.0);
    } else {
      // Speeds hover around a value: a fraction of a revolution per minute shows.
      axis->setLabelFormat("%.5g");
      axis->setTickCount(3);
    }
    p.chart->addAxis(axis, side);
    return axis;
  };
  const bool counts = objectName != QLatin1String("speedPlot");
  p.time = makeAxis(Qt::AlignBottom, true);  // seconds before now
  p.left = makeAxis(Qt::AlignLeft, counts);
  if (secondAxis) p.right = makeAxis(Qt::AlignRight, counts);
  for (int i = 0; i < names.size(); ++i) {
    Series series;
    series.name = names[i];
    series.colour = colours[static_cast<size_t>(i)];
    series.axis = i == 1 && p.right ? p.right : p.left;
    if (p.right) series.axis->setLinePenColor(series.colour);
    p.series.push_back(series);
    Line(p, p.series.back(), 0);
  }
  p.view = new QChartView(p.chart);
  p.view->setObjectName(objectName);
  p.view->setMinimumHeight(140);
  return p;
}

QLineSeries* DiagnosisDock::Line(Plot& plot, Series& series, size_t k) {
  while (series.lines.size() <= k) {
    auto* line = new QLineSeries(plot.chart);
    line->setName(series.name);
    line->setPen(QPen(series.colour, 2));
    line->setPointsVisible(false);
    plot.chart->addSeries(line);
    line->attachAxis(plot.time);
    line->attachAxis(series.axis);
    if (!series.lines.empty())
      for (QLegendMarker* marker : plot.chart->legend()->markers(line)) marker->setVisible(false);
    series.lines.push_back(line);
  }
  return series.lines[k];
}

void DiagnosisDock::StartSource(const QString& name) {
  revolutions.clear();
  seconds.clear();
  haveLink = false;
  breakRevolutions = breakSeconds = false;
  // Figures the worker measured before now, still on their way, belong to the last source.
  sourceStartMs = NowMs();
  sourceLabel->setText(tr("数据来源：%1").arg(name));
  if (isVisible()) Refresh();
}

void DiagnosisDock::BreakLines() { breakRevolutions = breakSeconds = true; }

int DiagnosisDock::SpanSeconds() const { return spanBox->currentData().toInt(); }

void DiagnosisDock::AddRevolution(const RevolutionFigures& f) {
  if (f.timeMs < sourceStartMs) return;
  revolutions.push_back({f.timeMs, f.speedRpm, f.points, f.emptyPoints, breakRevolutions});
  breakRevolutions = false;
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
                       rate(stats.skippedBytes, lastLink.skippedBytes), breakSeconds});
    breakSeconds = false;
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
  // x: seconds before now. y: per series, its stretches between breaks.
  auto x = [now](int64_t t) { return static_cast<double>(t - now) / 1000.0; };
  std::vector<std::vector<QVector<QPointF>>> data(6);
  auto add = [&data](size_t series, bool stretch, double x, double y) {
    if (stretch || data[series].empty()) data[series].emplace_back();
    data[series].back() << QPointF(x, y);
  };
  int64_t last = from;
  for (const Revolution& r : revolutions) {
    if (r.timeMs < from) continue;
    const bool stretch = r.breakBefore || r.timeMs - last > kRevolutionGapMs;
    last = r.timeMs;
    add(0, stretch, x(r.timeMs), r.speedRpm);
    add(1, stretch, x(r.timeMs), r.points);
    add(2, stretch, x(r.timeMs), r.emptyPoints);
  }
  last = from;
  for (const Second& s : seconds) {
    if (s.timeMs < from) continue;
    const bool stretch = s.breakBefore || s.timeMs - last > kSampleGapMs;
    last = s.timeMs;
    add(3, stretch, x(s.timeMs), s.packets);
    add(4, stretch, x(s.timeMs), s.crcErrors);
    add(5, stretch, x(s.timeMs), s.skippedBytes);
  }
  size_t next = 0;
  for (Plot& p : plots) {
    p.time->setRange(-span, 0.0);
    p.time->setTickInterval(TimeTickSeconds(static_cast<int>(span)));
    const int columns = std::max(50, static_cast<int>(p.chart->plotArea().width()));
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (Series& series : p.series) {
      const std::vector<QVector<QPointF>>& stretches = data[next++];
      const size_t axis = series.axis == p.right ? 1 : 0;
      for (const QVector<QPointF>& stretch : stretches)
        for (const QPointF& q : stretch) {
          lo[axis] = std::min(lo[axis], q.y());
          hi[axis] = std::max(hi[axis], q.y());
        }
      const size_t lines = std::max(stretches.size(), series.lines.size());
      for (size_t k = 0; k < lines; ++k) {
        QLineSeries* line = Line(p, series, k);
        line->replace(k < stretches.size() ? Thin(stretches[k], columns, -span, 0.0) : QVector<QPointF>());
        // A stretch of one point has no line to draw: its point shows instead.
        line->setPointsVisible(k < stretches.size() && stretches[k].size() == 1);
      }
    }
    if (&p == &plots[0])
      FitSpeedAxis(p.left, lo[0], hi[0]);
    else
      FitCountAxis(p.left, hi[0]);
    if (p.right) FitCountAxis(p.right, hi[1]);
  }
}
