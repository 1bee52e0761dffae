// CMeasStats: the running statistics of one measurement variable as the server keeps them:
// minimum, maximum, mean, sum of squares and count since the last reset, and a window of the
// most recent values (at most kMeasRecentValues, oldest dropped first) with the average period
// between them. Not thread-safe; its owner locks.
#pragma once

#include <cstdint>
#include <deque>

#include "link/meas_records.h"

class CMeasStats {
 public:
  // time_ms: when the value was measured, on any steady clock.
  void Add(double value, double time_ms);
  void Reset();
  int32_t Count() const { return count_; }
  // The record a client fetches. With no values, min, max and mean are 0.
  OZK_MEAS_VAR_STAT_RECORD Record() const;

 private:
  struct Sample {
    float value;
    double time_ms;
  };
  double min_ = 0, max_ = 0, sum_ = 0, sum_squares_ = 0;
  int32_t count_ = 0;
  std::deque<Sample> recent_;
};
