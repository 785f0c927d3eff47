#include "core/reading_series.h"

#include <algorithm>
#include <cmath>

ReadingSeries::ReadingSeries(size_t capacity, double keep_seconds)
    : recent_capacity_(std::max<size_t>(capacity, 16) / 2),
      keep_seconds_(keep_seconds),
      older_step_(keep_seconds / static_cast<double>(recent_capacity_)) {}

void ReadingSeries::Add(const SeriesPoint& point) {
  if (!recent_.empty() && point.t < recent_.back().t)
    return;
  recent_.push_back(point);
  recent_.back().after_gap = point.after_gap || (break_pending_ && size() > 1);
  break_pending_ = false;
  if (recent_.size() > recent_capacity_) {
    const SeriesPoint aged = recent_.front();
    recent_.pop_front();
    if (older_.empty() || aged.t - older_.back().t >= older_step_)
      older_.push_back(aged);
    else if (aged.after_gap)
      recent_.front().after_gap = true;  // the gap now lies before the next one kept
  }
  while (!older_.empty() && older_.front().t < point.t - keep_seconds_)
    older_.pop_front();
  while (recent_.size() > 1 && recent_.front().t < point.t - keep_seconds_)
    recent_.pop_front();
}

void ReadingSeries::Clear() {
  older_.clear();
  recent_.clear();
  break_pending_ = false;
}

double ReadingSeries::first_time() const {
  if (!older_.empty())
    return older_.front().t;
  return recent_.empty() ? 0.0 : recent_.front().t;
}

template <typename Visit>
void ReadingSeries::ForEachFrom(double from, Visit visit) const {
  for (const std::deque<SeriesPoint>* part : {&older_, &recent_}) {
    auto it = std::lower_bound(part->begin(), part->end(), from,
                               [](const SeriesPoint& p, double t) { return p.t < t; });
    for (; it != part->end(); ++it)
      visit(*it);
  }
}

WindowStats ReadingSeries::Stats(double seconds, bool factory) const {
  WindowStats s;
  double sum = 0.0;
  const double from = last_time() - seconds;
  ForEachFrom(from, [&](const SeriesPoint& p) {
    const double v = factory ? p.factory : p.reported;
    if (s.count == 0 || v < s.minimum)
      s.minimum = v;
    if (s.count == 0 || v > s.maximum)
      s.maximum = v;
    sum += v;
    ++s.count;
  });
  if (s.count == 0)
    return s;
  s.mean = sum / s.count;
  if (s.count > 1) {
    double squares = 0.0;
    ForEachFrom(from, [&](const SeriesPoint& p) {
      const double d = (factory ? p.factory : p.reported) - s.mean;
      squares += d * d;
    });
    s.deviation = std::sqrt(squares / (s.count - 1));
  }
  return s;
}

std::vector<SeriesPoint> ReadingSeries::Window(double seconds, size_t max_points) const {
  std::vector<SeriesPoint> all;
  ForEachFrom(last_time() - seconds, [&](const SeriesPoint& p) { all.push_back(p); });
  if (all.size() <= max_points || max_points < 2)
    return all;
  // Each stretch of time keeps its lowest and highest reported value, in time order.
  std::vector<SeriesPoint> out;
  const size_t buckets = max_points / 2;
  const double from = all.front().t;
  const double span = std::max(all.back().t - from, 1e-9);
  bool gap = false;  // among the readings left out since the last point kept
  size_t i = 0;
  for (size_t b = 0; b < buckets && i < all.size(); ++b) {
    const double end = from + span * static_cast<double>(b + 1) / static_cast<double>(buckets);
    const size_t start = i;
    size_t low = i;
    size_t high = i;
    for (; i < all.size() && (all[i].t <= end || b + 1 == buckets); ++i) {
      if (all[i].reported < all[low].reported)
        low = i;
      if (all[i].reported > all[high].reported)
        high = i;
    }
    if (i == start)
      continue;  // no reading fell into this stretch of time
    const size_t first = std::min(low, high);
    const size_t second = std::max(low, high);
    for (size_t k = start; k <= second; ++k) {
      gap = gap || all[k].after_gap;
      if (k == first || k == second) {
        out.push_back(all[k]);
        out.back().after_gap = gap;
        gap = false;
      }
    }
    for (size_t k = second + 1; k < i; ++k)
      gap = gap || all[k].after_gap;
  }
  return out;
}
