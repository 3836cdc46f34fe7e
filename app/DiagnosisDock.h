#pragma once

#include <QColor>
#include <QDockWidget>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/KXProtocol.h"
#include "scan/RevolutionStats.h"

class QComboBox;
class QLabel;
namespace QtCharts {
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
}  // namespace QtCharts

// The diagnosis view: live time plots of the sensor's health beside the
// point cloud. Rotation speed, points and empty points per revolution (one
// point per revolution, from the worker's statistics), packets, CRC errors
// and skipped bytes per second (one point per second, from the link
// counters). Everything arrives on the GUI thread. While the dock is shown
// the plots are redrawn as data arrives, at most every kRefreshMs, in the
// same pass of the event loop as the frame or the status line: the window,
// composed through OpenGL for the 3-D view, is then composed once for both.
// History is kept for the longest span, so memory stays bounded however long
// the window runs. It holds one source at a time (a connection, a replayed
// file), named above the plots; a line breaks where its source was silent or
// a replay jumped, rather than joining the two sides.
class DiagnosisDock : public QDockWidget {
  Q_OBJECT

 public:
  static constexpr int kSpansSeconds[] = {10, 30, 60, 120, 300, 600};
  static constexpr int kDefaultSpanSeconds = 60;
  static constexpr int kRefreshMs = 1000;
  // Revolutions at up to 50 a second over the longest span: a hard cap.
  static constexpr size_t kMaxRevolutions = 50 * 600;
  // A line breaks across a longer silence: about twenty revolutions of a
  // slow sensor, or a link sample that came two and a half seconds late.
  static constexpr int64_t kRevolutionGapMs = 2000;
  static constexpr int64_t kSampleGapMs = 2500;

  explicit DiagnosisDock(QWidget* parent = nullptr);

  int SpanSeconds() const;
  size_t RevolutionsKept() const { return revolutions.size(); }
  size_t SecondsKept() const { return seconds.size(); }

  // A new source of data: the history of the last one goes, and `name` is
  // shown above the plots.
  void StartSource(const QString& name);
  // The source goes on from another place (a replay jumped): the lines
  // break here.
  void BreakLines();

 public slots:
  void AddRevolution(const RevolutionFigures& figures);
  // A snapshot of the link counters; successive ones give the rates per second.
  void AddLinkSample(const KXLinkStats& stats, qint64 timeMs);
  // Redraws the plots from the history.
  void Refresh();
  // A held view holds the plots too; the history keeps growing meanwhile.
  void SetFrozen(bool on) { frozen = on; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Revolution {
    int64_t timeMs;
    float speedRpm;
    uint32_t points;
    uint32_t emptyPoints;
    bool breakBefore;
  };
  struct Second {
    int64_t timeMs;
    double packets;
    double crcErrors;
    double skippedBytes;
    bool breakBefore;
  };
  // One quantity: a line per stretch without a break. The first carries the
  // legend; the others are made as breaks need them, and kept.
  struct Series {
    QString name;
    QColor colour;
    QtCharts::QValueAxis* axis = nullptr;
    std::vector<QtCharts::QLineSeries*> lines;
  };
  struct Plot {
    QtCharts::QChart* chart = nullptr;
    QtCharts::QChartView* view = nullptr;
    QtCharts::QValueAxis* time = nullptr;
    QtCharts::QValueAxis* left = nullptr;
    QtCharts::QValueAxis* right = nullptr;  // for a second series of another scale
    std::vector<Series> series;
  };
  Plot MakePlot(const QString& objectName, const QStringList& names, const std::vector<QColor>& colours,
                bool secondAxis);
  QtCharts::QLineSeries* Line(Plot& plot, Series& series, size_t k);
  void DropOld(int64_t nowMs);

  QComboBox* spanBox = nullptr;
  QLabel* sourceLabel = nullptr;
  int64_t sourceStartMs = 0;      // figures measured before the source started are dropped
  bool breakRevolutions = false;  // the next revolution or link sample starts a new stretch
  bool breakSeconds = false;
  int64_t lastRefreshMs = 0;
  std::vector<Plot> plots;  // speed; points; packets and CRC errors; skipped bytes
  std::deque<Revolution> revolutions;
  std::deque<Second> seconds;
  bool frozen = false;
  bool haveLink = false;
  KXLinkStats lastLink;
  int64_t lastLinkMs = 0;
};

Q_DECLARE_METATYPE(RevolutionFigures)
