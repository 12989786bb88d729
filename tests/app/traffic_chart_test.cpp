#include "app/traffic_chart.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "platform/datetime.h"
#include "support/temp_folder.h"

namespace morlak::test_support {
namespace {

// Bucket lines of the statistics files, keyed days away from `today` plus a tenth.
std::string Line(double today, double daysAgo, int64_t amount) {
  return FormatFixed(today - daysAgo, 1) + "=" + std::to_string(amount) + "\r\n";
}

TEST(TrafficChart, ThirtyDaysFromTheFilesWithTodayMarkedAndAxesInByteUnits) {
  const TDateTime now = EncodeDateTime(2026, 12, 9, 10, 0);  // today's bucket is x.4
  const double today = std::floor(now);
  const struct {
    int64_t todayBytes;
    const char* byteTop;
  } cases[] = {{100000, "200000b"}, {1000000, "2000k"}, {8000000, "8M"}};
  for (const auto& c : cases) {
    TempFolder folder;
    folder.Write("statlist.lst", "");
    folder.Write("statagents.lst", "");
    folder.Write("statbytes.lst", Line(today, 40, 999) + Line(today, 29 - 0.3, 1000) +
                                      Line(today, 1 - 0.2, 3000) + Line(today, 0, 1000) +
                                      Line(today, -0.4, c.todayBytes - 1000));
    folder.Write("statconnections.lst", Line(today, 1 - 0.9, 4) + Line(today, -0.4, 12));
    Statistics statistics;
    ASSERT_TRUE(statistics.LoadStatistics(folder.Path()));

    TrafficChart chart;
    chart.resize(600, 200);
    chart.Refresh(statistics, now);
    const TrafficChartModel& model = chart.Model();
    ASSERT_EQ(model.days.size(), 30u);
    EXPECT_EQ(model.days.back().day, today);
    EXPECT_EQ(model.days.front().bytes, 1000) << "the day 40 days back is not shown";
    EXPECT_EQ(model.days[28].bytes, 3000);
    EXPECT_EQ(model.days[28].connections, 4);
    EXPECT_EQ(model.days.back().bytes, c.todayBytes) << "the x.0 bucket counts today";
    EXPECT_EQ(model.days.back().connections, 12);
    EXPECT_EQ(model.byteLabels.first(), QString("0") + model.byteLabels.last().back());
    EXPECT_EQ(model.byteLabels.last(), c.byteTop);
    EXPECT_EQ(model.connectionLabels, QStringList({"0", "5", "10", "15", "20"}));

    // Today's bar is drawn in its own colour.
    const QImage image = chart.grab().toImage();
    bool todayDrawn = false;
    for (int y = 0; y < image.height() && !todayDrawn; ++y)
      for (int x = 0; x < image.width() && !todayDrawn; ++x)
        todayDrawn = image.pixelColor(x, y) == QColor(255, 140, 0);
    EXPECT_TRUE(todayDrawn);
  }
}

}  // namespace
}  // namespace morlak::test_support
