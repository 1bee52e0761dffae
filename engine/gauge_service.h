// CGaugeService: the engine's inspecting side. It runs the inspection loop, writes each
// part's measurements into the engine's tree, sends every client that takes results a results
// message, and answers the requests about results, statistics, calibration and modes.
//
// The results message (36865): variant 0 the image (8 bits per pixel), variant 1 the result
// record (PackResultVar: the counters and the part's result), variant 2 one text per measurement
// ("Width = 20.10 mm").
//
// In the tree, below "AppVar": one variable per measurement (its value, format, units, the
// receives-results option and the result bits) with a child "Result" holding the result number,
// and "AppVar.Result" holding the part's result number.
//
// Images are taken on a software trigger (kMsgSoftwareTrigger, answered 1 when taken on) and,
// while the trigger mode parameter (3) is "Free Run", at the rate of the "FrameRate" parameter
// (6), or the start-up rate when that is 0. Engine mode 0 takes no images at all; 1 (the start)
// inspects. The counters start again from zero on kMsgResetResultCount.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "engine/calibration.h"
#include "engine/device_params.h"
#include "engine/gauge_loop.h"
#include "engine/part_gauge.h"
#include "engine/result_fanout.h"
#include "netmsg/lum_msg.h"

class CtVar;

struct InspectionSettings {
  uint32_t seed = 1;
  double rate_hz = 0;  // free-running rate when the parameter leaves it open
  int width = CPartGauge::kDefaultWidth, height = CPartGauge::kDefaultHeight;
};

class CGaugeService {
 public:
  static constexpr int32_t kParamTriggerMode = 3;
  static constexpr int32_t kParamFrameRate = 6;
  enum EngineMode : uint32_t { kEngineIdle = 0, kEngineInspect = 1 };

  CGaugeService(CtVar* root, CDeviceParams* params, const InspectionSettings& settings);
  ~CGaugeService();

  // Returns false when request is not one of the requests answered here (reply untouched).
  bool HandleMessage(uint32_t client_id, const CLumMsg& request, CLumMsg* reply);

  // Clients that take results, by the engine's client id.
  void AddClient(uint32_t client_id, CResultFanout::Deliver deliver);
  void RemoveClient(uint32_t client_id);
  // Ends the loop and every delivery; nothing is sent after.
  void Stop();

  bool Trigger();

 private:
  void InspectOnce();
  double RateHz() const;
  void Publish(const CPartGauge::Report& report);
  bool HandleModeMessage(const CLumMsg& request, CLumMsg* reply);
  bool HandleMeasMessage(uint32_t client_id, const CLumMsg& request, CLumMsg* reply);

  CtVar* const root_;
  CDeviceParams* const params_;
  const double default_rate_hz_;
  CPartGauge inspection_;
  CCalibration calibration_;
  CResultFanout fanout_;
  std::atomic<uint32_t> engine_mode_{kEngineInspect};
  std::atomic<int> app_mode_{0};
  std::atomic<int> history_locked_{0};
  std::atomic<int> last_event_{0};
  std::mutex cursor_mu_;
  std::map<uint32_t, int> enum_cursor_;  // per client: the next measurement variable to name
  std::unique_ptr<CGaugeLoop> loop_;     // last: it runs while everything above exists
};
