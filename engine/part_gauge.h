// CPartGauge: the simulated appliance's inspection of one camera. Each call to Inspect makes a
// part whose dimensions vary from part to part (drawn from a generator with a fixed seed, so a
// run can be repeated), draws it into an 8-bit image, measures the image, judges every
// measurement against its tolerances, counts the part and adds the values to the statistics.
//
// The image (width x height bytes, row by row) shows the part as a filled rectangle of one grey
// level, centred, on a background of grey 20; row 0 is black apart from the part's label. The
// measurements read it back as follows, and a reader of the image can do the same:
//   "Width"   = pixels brighter than kPartThreshold in the middle row (height / 2) x kMmPerPixel;
//   "Height"  = pixels brighter than kPartThreshold in the middle column (width / 2) x kMmPerPixel;
//   "Angle"   = (grey of the centre pixel - 150) / 10, in degrees;
//   "LotCode" = the bytes of row 0 up to the first zero (at most kLabelBytes).
//
// Judging: a number within Min Pass..Max Pass passes, else within Min Recycle..Max Recycle it is
// recycled (rejected when recycling is off), else rejected; a text passes when it equals the
// expected text, else it is rejected. The part takes the worst result of its measurements.
// The statistics of a text measurement count 1 for a match and 0 otherwise.
//
// Thread-safe: every member locks.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/meas_stats.h"
#include "link/meas_records.h"
#include "link/process_results.h"
#include "vartree/tvar.h"

class CPartGauge {
 public:
  static constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
  static constexpr double kMmPerPixel = 0.1;
  static constexpr uint8_t kPartThreshold = 60;
  static constexpr size_t kLabelBytes = 32;

  struct Measurement {
    std::string name;
    double value = 0;  // for a text: 1 when it matched, else 0
    std::string text;  // a text measurement's value
    bool is_text = false;
    std::string format;  // how the value is shown ("%5.2f"), empty for a text
    std::wstring units;
    VAR_RESULT_TYPE result = VAR_RESULT_NONE;
  };
  struct Report {
    uint32_t number = 0;  // 1 for the first image
    int width = 0, height = 0;
    std::vector<uint8_t> image;
    std::vector<Measurement> values;
    VAR_RESULT_TYPE result = VAR_RESULT_NONE;
    OZK_PROCESS_RESULTS record{};  // the counters after this part, and its result
  };

  explicit CPartGauge(uint32_t seed = 1, int width = kDefaultWidth, int height = kDefaultHeight);

  // One part, measured at now_ms (a steady clock in milliseconds, fractions kept).
  Report Inspect(double now_ms);

  // The measurement variables, in a fixed order.
  int NumVars() const;
  std::string VarName(int index) const;  // empty beyond the last
  bool GetProps(const std::string& name, MEASVARPROPS* out) const;
  // The name and kind stay; the tolerances and expected text are taken.
  bool SetProps(const std::string& name, const MEASVARPROPS& in);
  bool GetStats(const std::string& name, OZK_MEAS_VAR_STAT_RECORD* out) const;
  // An empty name resets every variable.
  bool ResetStats(const std::string& name);
  bool GetAttr(const std::string& name, OZK_MEAS_VAR_ATTR* out) const;

  // The counters and the latest part's result, as the result record carries them.
  OZK_PROCESS_RESULTS Counters() const;
  void ResetCounters();
  bool RecycleEnabled() const;
  void SetRecycleEnabled(bool on);

 private:
  struct Var {
    MEASVARPROPS props{};
    int tool_type = 0;
    std::string format;
    std::wstring units;
    CMeasStats stats;
  };
  struct Part {
    int width_px, height_px;
    uint8_t grey;
    std::string label;
  };
  Part DrawPart();
  void Render(const Part& part, std::vector<uint8_t>* image) const;
  std::vector<Measurement> Measure(const std::vector<uint8_t>& image) const;
  VAR_RESULT_TYPE Judge(const Var& var, const Measurement& m) const;
  Var* Find(const std::string& name);
  const Var* Find(const std::string& name) const;
  OZK_PROCESS_RESULTS CountersLocked() const;
  int Triangle(int spread);  // -spread..spread, most often 0
  bool OneIn(int n);

  mutable std::mutex mu_;
  const int width_, height_;
  std::mt19937 random_;
  std::vector<Var> vars_;
  bool recycle_enabled_ = true;
  uint32_t inspected_ = 0, passed_ = 0, recycled_ = 0, rejected_ = 0, number_ = 0;
  VAR_RESULT_TYPE last_ = VAR_RESULT_NONE;
  double last_inspect_ms_ = 0;
  double last_wall_seconds_ = 0;
  double last_ms_ = 0;
  std::string last_summary_;
  double reset_ms_ = -1;             // when counting started (the first part after a reset)
  std::deque<double> recent_times_;  // of the last parts, for the rate
};
