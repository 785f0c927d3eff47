#pragma once

#include <cstddef>
#include <deque>
#include <vector>

// One valid reading of the measured value: when (seconds from the start of the series), as the
// sensor reported it and as it would read with the factory calibration, both in the display
// unit.
struct SeriesPoint {
  double t = 0.0;
  double reported = 0.0;
  double factory = 0.0;
  // Readings were missed just before this one (failed requests, a lost link): a line is not
  // drawn across from the reading before it.
  bool after_gap = false;
};

// Minimum, maximum, mean and standard deviation (n - 1) of one of the two values over a span.
struct WindowStats {
  int count = 0;
  double minimum = 0.0;
  double maximum = 0.0;
  double mean = 0.0;
  double deviation = 0.0;
};

// The readings of a monitoring session, kept for the trend and its statistics. Memory stays
// bounded at any run length: the newest half of the capacity keeps every reading; older ones
// keep one reading in each stretch of keep_seconds / (capacity / 2), so the other half covers
// the rest of the longest span anyone asks for; older than that, a reading goes.
class ReadingSeries {
 public:
  // `capacity`: most points ever held; `keep_seconds`: age after which a point goes.
  explicit ReadingSeries(size_t capacity = 8192, double keep_seconds = 3600.0);

  // Times must not run backwards; a reading older than the last one is ignored.
  void Add(const SeriesPoint& point);
  // Readings were missed since the last one: the next one starts a new stretch.
  void Break() { break_pending_ = true; }
  void Clear();

  size_t size() const { return older_.size() + recent_.size(); }
  // Times of the oldest and the newest reading kept; 0 when there is none.
  double first_time() const;
  double last_time() const { return recent_.empty() ? 0.0 : recent_.back().t; }

  // Statistics of the reported (or factory) value over the last `seconds`.
  WindowStats Stats(double seconds, bool factory) const;

  // The points of the last `seconds`, at most `max_points` of them for drawing: where there
  // are more, each bucket of time keeps its lowest and highest reported value (in time
  // order), so a spike survives the thinning. A gap among the readings left out marks the
  // next point kept, so thinning never bridges one.
  std::vector<SeriesPoint> Window(double seconds, size_t max_points) const;

 private:
  // The kept readings from time `from` on, oldest first.
  template <typename Visit>
  void ForEachFrom(double from, Visit visit) const;

  size_t recent_capacity_;
  double keep_seconds_;
  double older_step_;
  std::deque<SeriesPoint> older_;   // thinned
  std::deque<SeriesPoint> recent_;  // one for one
  bool break_pending_ = false;
};
