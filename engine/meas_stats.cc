#include "engine/meas_stats.h"

#include <algorithm>
#include <cmath>

void CMeasStats::Add(double value, double time_ms) {
  if (count_ == 0) {
    min_ = max_ = value;
  } else {
    min_ = std::min(min_, value);
    max_ = std::max(max_, value);
  }
  sum_ += value;
  sum_squares_ += value * value;
  ++count_;
  recent_.push_back({static_cast<float>(value), time_ms});
  if (recent_.size() > kMeasRecentValues) recent_.pop_front();
}

void CMeasStats::Reset() {
  *this = CMeasStats();
}

OZK_MEAS_VAR_STAT_RECORD CMeasStats::Record() const {
  OZK_MEAS_VAR_STAT_RECORD r{};
  r.min = min_;
  r.max = max_;
  r.mean = count_ > 0 ? sum_ / count_ : 0;
  r.sum_squares = sum_squares_;
  r.count = count_;
  if (recent_.size() > 1) {
    const double span = recent_.back().time_ms - recent_.front().time_ms;
    r.sample_period_ms = static_cast<uint32_t>(
        std::lround(std::max(0.0, span) / static_cast<double>(recent_.size() - 1)));
  }
  r.recent_count = static_cast<int32_t>(recent_.size());
  for (size_t i = 0; i < recent_.size(); ++i) r.recent[i] = recent_[i].value;
  return r;
}
