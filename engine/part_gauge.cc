#include "engine/part_gauge.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kBackground = 20;
constexpr int kNominalWidthPx = 200, kNominalHeightPx = 120;
constexpr int kNominalGrey = 150;
constexpr char kGoodLabel[] = "LOT42";
constexpr size_t kRecentParts = 20;  // the inspection rate is taken over these

MEASVARPROPS Props(const char* name, int32_t kind, std::initializer_list<double> tolerances,
                   const char* expected = "") {
  MEASVARPROPS p{};
  std::snprintf(p.name, sizeof p.name, "%s", name);
  p.kind = kind;
  std::copy(tolerances.begin(), tolerances.end(), p.tolerance);
  std::snprintf(p.expected, sizeof p.expected, "%s", expected);
  return p;
}

const char* ResultName(VAR_RESULT_TYPE r) {
  static constexpr const char* kNames[] = {"Undefined", "Passed", "Recycled", "Rejected"};
  return r <= VAR_RESULT_REJECTED ? kNames[r] : "";
}

double WallSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

CPartGauge::CPartGauge(uint32_t seed, int width, int height)
    : width_(std::max(width, 16)), height_(std::max(height, 16)), random_(seed) {
  constexpr int32_t kNumeric = 0;
  vars_.push_back(
      {Props("Width", kNumeric, {19.0, 19.5, 20.0, 20.5, 21.0}), 6, "%5.2f", L"mm", {}});
  vars_.push_back(
      {Props("Height", kNumeric, {11.0, 11.7, 12.0, 12.3, 13.0}), 6, "%5.2f", L"mm", {}});
  vars_.push_back({Props("Angle", kNumeric, {-1.5, -0.8, 0, 0.8, 1.5}), 7, "%4.1f", L"deg", {}});
  vars_.push_back({Props("LotCode", kMeasKindText, {0, 0, 0, 0, 0}, kGoodLabel), 24, "", L"", {}});
}

int CPartGauge::Triangle(int spread) {
  const int a = static_cast<int>(random_() % (spread + 1));
  const int b = static_cast<int>(random_() % (spread + 1));
  return a + b - spread;
}

bool CPartGauge::OneIn(int n) {
  return random_() % static_cast<uint32_t>(n) == 0;
}

CPartGauge::Part CPartGauge::DrawPart() {
  Part p;
  p.width_px = kNominalWidthPx + Triangle(6);
  if (OneIn(40)) p.width_px += OneIn(2) ? 15 : -15;  // now and then a part far off size
  p.height_px = kNominalHeightPx + Triangle(4);
  p.grey = static_cast<uint8_t>(kNominalGrey + Triangle(10));
  p.label = OneIn(30) ? "LOT4?" : kGoodLabel;
  // The part stays inside the picture and clear of the label row.
  p.width_px = std::clamp(p.width_px, 1, width_ - 2);
  p.height_px = std::clamp(p.height_px, 1, height_ - 2);
  return p;
}

void CPartGauge::Render(const Part& part, std::vector<uint8_t>* image) const {
  image->assign(static_cast<size_t>(width_) * height_, kBackground);
  const int left = width_ / 2 - part.width_px / 2, top = height_ / 2 - part.height_px / 2;
  for (int y = top; y < top + part.height_px; ++y) {
    std::fill_n(image->begin() + static_cast<size_t>(y) * width_ + left, part.width_px, part.grey);
  }
  std::fill_n(image->begin(), width_, 0);
  std::copy_n(part.label.begin(),
              std::min({part.label.size(), kLabelBytes, size_t(width_ / 2 - 1)}), image->begin());
}

std::vector<CPartGauge::Measurement> CPartGauge::Measure(const std::vector<uint8_t>& image) const {
  int row = 0, column = 0;
  for (int x = 0; x < width_; ++x)
    row += image[static_cast<size_t>(height_ / 2) * width_ + x] > kPartThreshold;
  for (int y = 0; y < height_; ++y)
    column += image[static_cast<size_t>(y) * width_ + width_ / 2] > kPartThreshold;
  const uint8_t centre = image[static_cast<size_t>(height_ / 2) * width_ + width_ / 2];
  const auto label_end = std::find(image.begin(), image.begin() + kLabelBytes, 0);
  const std::string label(image.begin(), label_end);

  std::vector<Measurement> out;
  for (const Var& var : vars_) {
    Measurement m;
    m.name = var.props.name;
    m.format = var.format;
    m.units = var.units;
    if (var.props.kind == kMeasKindText) {
      m.is_text = true;
      m.text = label;
      m.value = label == var.props.expected ? 1 : 0;
    } else if (m.name == "Width") {
      m.value = row * kMmPerPixel;
    } else if (m.name == "Height") {
      m.value = column * kMmPerPixel;
    } else {
      m.value = (centre - kNominalGrey) / 10.0;
    }
    out.push_back(std::move(m));
  }
  return out;
}

VAR_RESULT_TYPE CPartGauge::Judge(const Var& var, const Measurement& m) const {
  if (m.is_text) return m.text == var.props.expected ? VAR_RESULT_PASSED : VAR_RESULT_REJECTED;
  const double* t = var.props.tolerance;
  if (m.value >= t[kMinPass] && m.value <= t[kMaxPass]) return VAR_RESULT_PASSED;
  if (recycle_enabled_ && m.value >= t[kMinRecycle] && m.value <= t[kMaxRecycle])
    return VAR_RESULT_RECYCLED;
  return VAR_RESULT_REJECTED;
}

CPartGauge::Report CPartGauge::Inspect(double now_ms) {
  std::lock_guard lock(mu_);
  const auto started = std::chrono::steady_clock::now();
  Report report;
  report.width = width_;
  report.height = height_;
  Render(DrawPart(), &report.image);
  report.values = Measure(report.image);
  report.result = VAR_RESULT_PASSED;
  std::string summary;
  for (size_t i = 0; i < vars_.size(); ++i) {
    Measurement& m = report.values[i];
    m.result = Judge(vars_[i], m);
    report.result = std::max(report.result, m.result);
    vars_[i].stats.Add(m.value, now_ms);
    char line[160];
    if (m.is_text) {
      std::snprintf(line, sizeof line, "%s = %s", m.name.c_str(), m.text.c_str());
    } else {
      std::snprintf(line, sizeof line, "%s = %.2f", m.name.c_str(), m.value);
    }
    summary += (summary.empty() ? "" : "; ") + std::string(line);
  }
  ++inspected_;
  ++(report.result == VAR_RESULT_PASSED     ? passed_
     : report.result == VAR_RESULT_RECYCLED ? recycled_
                                            : rejected_);
  report.number = ++number_;
  last_ = report.result;
  last_ms_ = now_ms;
  last_wall_seconds_ = WallSeconds();
  last_summary_ = summary;
  if (reset_ms_ < 0) reset_ms_ = now_ms;
  recent_times_.push_back(now_ms);
  if (recent_times_.size() > kRecentParts) recent_times_.pop_front();
  last_inspect_ms_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  report.record = CountersLocked();
  return report;
}

OZK_PROCESS_RESULTS CPartGauge::CountersLocked() const {
  OZK_PROCESS_RESULTS r{};
  r.counts[kResultPassed] = static_cast<int32_t>(passed_);
  r.counts[kResultInspected] = static_cast<int32_t>(inspected_);
  r.counts[kResultRecycled] = static_cast<int32_t>(recycled_);
  r.counts[kResultRejected] = static_cast<int32_t>(rejected_);
  r.counts[kResultLast] = static_cast<int32_t>(last_);
  r.counts[kResultCamera] = 0;
  r.counts[kResultImageWidth] = width_;
  r.counts[kResultImageHeight] = height_;
  r.counts[kResultImageNumber] = static_cast<int32_t>(number_);
  r.values[kResultInspectMs] = last_inspect_ms_;
  if (recent_times_.size() > 1 && recent_times_.back() > recent_times_.front()) {
    r.values[kResultRateHz] = 1000.0 * static_cast<double>(recent_times_.size() - 1) /
                              (recent_times_.back() - recent_times_.front());
  }
  if (reset_ms_ >= 0) r.values[kResultUptimeSec] = (last_ms_ - reset_ms_) / 1000.0;
  r.value4 = last_wall_seconds_;
  std::snprintf(r.text1, sizeof r.text1, "Camera 01");
  std::snprintf(r.text2, sizeof r.text2, "%s", ResultName(last_));
  r.word = static_cast<int32_t>(vars_.size());
  std::snprintf(r.text3, sizeof r.text3, "%s", last_summary_.c_str());
  return r;
}

OZK_PROCESS_RESULTS CPartGauge::Counters() const {
  std::lock_guard lock(mu_);
  return CountersLocked();
}

void CPartGauge::ResetCounters() {
  std::lock_guard lock(mu_);
  inspected_ = passed_ = recycled_ = rejected_ = 0;
  reset_ms_ = -1;
  recent_times_.clear();
}

bool CPartGauge::RecycleEnabled() const {
  std::lock_guard lock(mu_);
  return recycle_enabled_;
}

void CPartGauge::SetRecycleEnabled(bool on) {
  std::lock_guard lock(mu_);
  recycle_enabled_ = on;
}

int CPartGauge::NumVars() const {
  std::lock_guard lock(mu_);
  return static_cast<int>(vars_.size());
}

std::string CPartGauge::VarName(int index) const {
  std::lock_guard lock(mu_);
  return index >= 0 && index < static_cast<int>(vars_.size()) ? vars_[index].props.name : "";
}

CPartGauge::Var* CPartGauge::Find(const std::string& name) {
  for (Var& v : vars_) {
    if (name == v.props.name) return &v;
  }
  return nullptr;
}

const CPartGauge::Var* CPartGauge::Find(const std::string& name) const {
  return const_cast<CPartGauge*>(this)->Find(name);
}

bool CPartGauge::GetProps(const std::string& name, MEASVARPROPS* out) const {
  std::lock_guard lock(mu_);
  const Var* v = Find(name);
  if (!v) return false;
  *out = v->props;
  return true;
}

bool CPartGauge::SetProps(const std::string& name, const MEASVARPROPS& in) {
  std::lock_guard lock(mu_);
  Var* v = Find(name);
  if (!v) return false;
  std::copy(in.tolerance, in.tolerance + 5, v->props.tolerance);
  if (v->props.kind == kMeasKindText) {
    std::memcpy(v->props.expected, in.expected, sizeof v->props.expected);
    v->props.expected[sizeof v->props.expected - 1] = '\0';
  }
  return true;
}

bool CPartGauge::GetStats(const std::string& name, OZK_MEAS_VAR_STAT_RECORD* out) const {
  std::lock_guard lock(mu_);
  const Var* v = Find(name);
  if (!v) return false;
  *out = v->stats.Record();
  return true;
}

bool CPartGauge::ResetStats(const std::string& name) {
  std::lock_guard lock(mu_);
  if (name.empty()) {
    for (Var& v : vars_) v.stats.Reset();
    return true;
  }
  Var* v = Find(name);
  if (!v) return false;
  v->stats.Reset();
  return true;
}

bool CPartGauge::GetAttr(const std::string& name, OZK_MEAS_VAR_ATTR* out) const {
  std::lock_guard lock(mu_);
  const Var* v = Find(name);
  if (!v) return false;
  *out = OZK_MEAS_VAR_ATTR{};
  out->tool_type = v->tool_type;
  return true;
}
