#include "core/reading_series.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ReadingSeries, WindowStatisticsOfEitherValue) {
  ReadingSeries series;
  // 0..9 s: reported 1..10, factory twice that.
  for (int i = 0; i < 10; ++i)
    series.Add({static_cast<double>(i), i + 1.0, 2.0 * (i + 1)});
  const WindowStats all = series.Stats(60.0, false);
  EXPECT_EQ(all.count, 10);
  EXPECT_DOUBLE_EQ(all.minimum, 1.0);
  EXPECT_DOUBLE_EQ(all.maximum, 10.0);
  EXPECT_DOUBLE_EQ(all.mean, 5.5);
  EXPECT_NEAR(all.deviation, std::sqrt(82.5 / 9), 1e-12);
  // The last 2 s hold the readings at 7, 8 and 9 s.
  const WindowStats last = series.Stats(2.0, true);
  EXPECT_EQ(last.count, 3);
  EXPECT_DOUBLE_EQ(last.minimum, 16.0);
  EXPECT_DOUBLE_EQ(last.mean, 18.0);
  EXPECT_EQ(ReadingSeries().Stats(60.0, false).count, 0);

  // A reading from the past is ignored.
  series.Add({3.0, 100.0, 100.0});
  EXPECT_EQ(series.size(), 10u);
}

TEST(ReadingSeries, AnHourAtFiftyMillisecondsStaysBoundedAndRecentReadingsStayWhole) {
  ReadingSeries series(4096, 3600.0);
  const int readings = 2 * 3600 * 20;  // two hours at 50 ms
  for (int i = 0; i < readings; ++i)
    series.Add({i * 0.05, std::sin(i * 0.001), 0.0});
  EXPECT_LE(series.size(), 4096u);
  // Nothing older than an hour, and the last minute one for one.
  EXPECT_GE(series.first_time(), series.last_time() - 3600.0);
  EXPECT_EQ(series.Stats(60.0, false).count, 1201);
  // Older readings thinner, yet the hour still reaches back most of the way.
  EXPECT_LT(series.first_time(), series.last_time() - 3000.0);
}

TEST(ReadingSeries, DrawingWindowKeepsSpikesWithinItsPointBudget) {
  ReadingSeries series;
  for (int i = 0; i < 3000; ++i)
    series.Add({i * 0.05, i == 1234 ? 50.0 : (i == 2000 ? -50.0 : 1.0), 0.0});
  const std::vector<SeriesPoint> drawn = series.Window(3600.0, 200);
  EXPECT_LE(drawn.size(), 200u);
  EXPECT_GE(drawn.size(), 100u);
  bool high = false;
  bool low = false;
  for (size_t i = 0; i < drawn.size(); ++i) {
    high = high || drawn[i].reported == 50.0;
    low = low || drawn[i].reported == -50.0;
    if (i > 0) {
      EXPECT_LE(drawn[i - 1].t, drawn[i].t);
    }
  }
  EXPECT_TRUE(high && low);
  EXPECT_EQ(series.Window(10.0, 1000).size(), 201u);  // few enough: all of them
}

// Where readings were missed, the point after them says so, however the series is thinned.
TEST(ReadingSeries, AGapIsKeptThroughAgeingAndDrawingThinning) {
  ReadingSeries series(64, 3600.0);
  series.Break();  // before the first reading there is nothing to break from
  series.Add({0.0, 1.0, 1.0});
  EXPECT_FALSE(series.Window(10.0, 100).front().after_gap);
  series.Add({1.0, 1.0, 1.0});
  series.Break();
  series.Break();
  series.Add({5.0, 2.0, 2.0});
  series.Add({6.0, 2.0, 2.0});
  std::vector<SeriesPoint> drawn = series.Window(10.0, 100);
  ASSERT_EQ(drawn.size(), 4u);
  EXPECT_FALSE(drawn[1].after_gap);
  EXPECT_TRUE(drawn[2].after_gap);
  EXPECT_FALSE(drawn[3].after_gap);

  // A gap at 100.5 s amid readings every 0.1 s: aged into the thinned half (a reading every
  // 112.5 s kept), and amid readings every 50 ms thinned for drawing, the line still breaks.
  ReadingSeries aged(64, 3600.0);
  for (int i = 0; i < 2000; ++i) {
    if (i == 1005)
      aged.Break();
    aged.Add({i * 0.1, 1.0, 1.0});
  }
  drawn = aged.Window(3600.0, 1000);
  auto gaps = [](const std::vector<SeriesPoint>& points, double from, double to) {
    int n = 0;
    for (size_t i = 1; i < points.size(); ++i)
      n += points[i].after_gap && points[i - 1].t <= from && points[i].t >= to;
    return n;
  };
  int all_gaps = 0;
  for (const SeriesPoint& p : drawn)
    all_gaps += p.after_gap;
  EXPECT_EQ(all_gaps, 1);
  EXPECT_EQ(gaps(drawn, 100.4, 100.5), 1);

  ReadingSeries dense;
  for (int i = 0; i < 3000; ++i) {
    if (i == 1501)
      dense.Break();
    dense.Add({i * 0.05, i % 2 == 0 ? 1.0 : 2.0, 0.0});
  }
  drawn = dense.Window(3600.0, 100);
  ASSERT_LE(drawn.size(), 100u);
  all_gaps = 0;
  for (const SeriesPoint& p : drawn)
    all_gaps += p.after_gap;
  EXPECT_EQ(all_gaps, 1);
  EXPECT_EQ(gaps(drawn, 75.0, 75.05), 1);
}
