// The About page's chart of the last 30 days from the statistics buckets: bytes sent per
// day as bars against the left axis, connections per day as a line against the right
// one, today's bar marked. Drawn with QPainter.
#pragma once

#include <QStringList>
#include <QWidget>
#include <vector>

#include "stores/statistics.h"

namespace morlak {

// What the chart shows, apart from the drawing.
struct TrafficChartModel {
  static constexpr int kDays = 30;
  static constexpr int kAxisSteps = 4;

  std::vector<DayTraffic> days;  // oldest first; the last one is today
  int64_t byteTop = 1;           // the top of each axis, a round value in its unit
  int64_t connectionTop = 1;
  // The labels of each axis from 0 to its top, kAxisSteps + 1 of them; bytes in the unit
  // the figures use for the top ("b", "k" or "M").
  QStringList byteLabels, connectionLabels;

  static TrafficChartModel From(const Statistics& statistics, TDateTime now);
};

class TrafficChart : public QWidget {
  Q_OBJECT

 public:
  explicit TrafficChart(QWidget* parent = nullptr);

  // Takes the days up to `now` from the statistics and redraws.
  void Refresh(const Statistics& statistics, TDateTime now);
  const TrafficChartModel& Model() const { return model_; }

  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TrafficChartModel model_;
};

}  // namespace morlak
