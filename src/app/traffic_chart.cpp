#include "app/traffic_chart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "platform/datetime.h"

namespace morlak {

namespace {

const QColor kBarColor(70, 130, 180);
const QColor kTodayColor(255, 140, 0);
const QColor kLineColor(178, 34, 34);
const QColor kGridColor(220, 220, 220);

// The smallest of 1, 2, 5 times a power of ten that is at least `value` (and at least 1).
double RoundStep(double value) {
  if (value <= 1) return 1;
  const double power = std::pow(10, std::floor(std::log10(value)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (factor * power >= value) return factor * power;
  return 10 * power;
}

// The byte units of the figures: below 131072 bytes "b", below 5242880 "k", else "M".
struct ByteUnit {
  double size;
  const char* suffix;
};
ByteUnit UnitFor(int64_t bytes) {
  if (bytes < 131072) return {1, "b"};
  if (bytes < 5242880) return {1024, "k"};
  return {1048576, "M"};
}

QString Number(double value) {
  return QString::fromStdString(FormatFixed(value, value == std::floor(value) ? 0 : 1));
}

}  // namespace

TrafficChartModel TrafficChartModel::From(const Statistics& statistics, TDateTime now) {
  TrafficChartModel model;
  model.days = statistics.TrafficByDay(now, kDays);
  int64_t maxBytes = 0, maxConnections = 0;
  for (const DayTraffic& d : model.days) {
    maxBytes = std::max(maxBytes, d.bytes);
    maxConnections = std::max(maxConnections, d.connections);
  }
  const ByteUnit unit = UnitFor(maxBytes);
  const double byteStep = RoundStep(static_cast<double>(maxBytes) / unit.size / kAxisSteps);
  const double connectionStep = RoundStep(static_cast<double>(maxConnections) / kAxisSteps);
  model.byteTop = static_cast<int64_t>(byteStep * kAxisSteps * unit.size);
  model.connectionTop = static_cast<int64_t>(connectionStep * kAxisSteps);
  for (int i = 0; i <= kAxisSteps; ++i) {
    model.byteLabels << Number(byteStep * i) + unit.suffix;
    model.connectionLabels << Number(connectionStep * i);
  }
  return model;
}

TrafficChart::TrafficChart(QWidget* parent) : QWidget(parent) {
  setObjectName("traffic chart");
  setToolTip(tr("Bytes sent (bars) and connections (line) per day, last 30 days"));
  model_ = TrafficChartModel::From(Statistics(), Now());
}

void TrafficChart::Refresh(const Statistics& statistics, TDateTime now) {
  model_ = TrafficChartModel::From(statistics, now);
  update();
}

QSize TrafficChart::minimumSizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  return {metrics.horizontalAdvance("0") * 40, metrics.height() * 7};
}

void TrafficChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics = fontMetrics();
  const int line = metrics.height();
  auto widest = [&](const QStringList& labels) {
    int w = 0;
    for (const QString& label : labels) w = std::max(w, metrics.horizontalAdvance(label));
    return w;
  };
  const int gap = metrics.horizontalAdvance("0");
  const QRect plot = rect().adjusted(widest(model_.byteLabels) + gap, line + line / 2,
                                     -(widest(model_.connectionLabels) + gap), -(line + 2));
  if (plot.width() < TrafficChartModel::kDays || plot.height() < line) return;

  // Legend above the plot.
  int x = plot.left();
  const int legendY = line / 4;
  painter.fillRect(x, legendY + line / 4, line / 2, line / 2, kBarColor);
  x += line / 2 + gap / 2;
  const QString bytesText = tr("Bytes per day");
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(x, legendY, metrics.horizontalAdvance(bytesText), line, Qt::AlignVCenter,
                   bytesText);
  x += metrics.horizontalAdvance(bytesText) + 2 * gap;
  painter.setPen(QPen(kLineColor, 2));
  painter.drawLine(x, legendY + line / 2, x + line, legendY + line / 2);
  x += line + gap / 2;
  const QString connectionsText = tr("Connections per day");
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(x, legendY, metrics.horizontalAdvance(connectionsText), line, Qt::AlignVCenter,
                   connectionsText);

  // Axes: grid lines with the byte labels on the left and the connection labels on the right.
  const int steps = TrafficChartModel::kAxisSteps;
  for (int i = 0; i <= steps; ++i) {
    const int y = plot.bottom() - plot.height() * i / steps;
    painter.setPen(kGridColor);
    painter.drawLine(plot.left(), y, plot.right(), y);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, y - line / 2, plot.left() - gap / 2, line),
                     Qt::AlignRight | Qt::AlignVCenter, model_.byteLabels.value(i));
    painter.drawText(QRect(plot.right() + gap / 2, y - line / 2, width(), line),
                     Qt::AlignLeft | Qt::AlignVCenter, model_.connectionLabels.value(i));
  }

  // Bars, today's in its own colour, with a date under every seventh day back from today.
  const int count = static_cast<int>(model_.days.size());
  const double slot = static_cast<double>(plot.width()) / std::max(count, 1);
  QPolygonF points;
  for (int i = 0; i < count; ++i) {
    const DayTraffic& day = model_.days[static_cast<size_t>(i)];
    const double left = plot.left() + slot * i;
    const double height = static_cast<double>(plot.height()) * static_cast<double>(day.bytes) /
                          static_cast<double>(model_.byteTop);
    const bool today = i == count - 1;
    painter.fillRect(QRectF(left + slot * 0.15, plot.bottom() - height, slot * 0.7, height),
                     today ? kTodayColor : kBarColor);
    points << QPointF(left + slot / 2,
                      plot.bottom() - static_cast<double>(plot.height()) *
                                          static_cast<double>(day.connections) /
                                          static_cast<double>(model_.connectionTop));
    if ((count - 1 - i) % 7 != 0) continue;
    const DateTimeParts parts = DecodeDateTime(day.day);
    const QString date = today ? tr("today") : QString("%1.%2.").arg(parts.day).arg(parts.month);
    const int w = metrics.horizontalAdvance(date);
    const int textLeft = std::min(static_cast<int>(left + slot / 2) - w / 2, width() - w);
    painter.setPen(today ? kTodayColor.darker(130) : palette().color(QPalette::WindowText));
    painter.drawText(QRect(textLeft, plot.bottom() + 2, w, line), Qt::AlignCenter, date);
  }
  painter.setPen(QPen(kLineColor, 2));
  painter.drawPolyline(points);
  painter.setBrush(kLineColor);
  for (const QPointF& p : points) painter.drawEllipse(p, 2, 2);
}

}  // namespace morlak
