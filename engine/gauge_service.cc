#include "engine/gauge_service.h"

#include <chrono>
#include <cstdio>
#include <span>
#include <string>

#include "link/result_message_ids.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

double SteadyMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string TextAt(const CLumMsg& m, int i) {
  const char* text = m.Get(i).GetString(0);
  return text ? text : "";
}

std::span<const uint8_t> DataAt(const CLumMsg& m, int i) {
  const std::string_view bytes = m.Get(i).GetBytes(0);
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

template <typename Record>
void AddRecord(CLumMsg* reply, const Record& r) {
  const auto bytes = RecordBytes(r);
  reply->Add(CLumVariant(bytes.data(), static_cast<long>(bytes.size()), true));
}

std::string ValueText(const CPartGauge::Measurement& m) {
  std::string text = m.name;
  text.append(" = ");
  if (m.is_text) return text.append(m.text);
  char value[64];
  std::snprintf(value, sizeof value, m.format.empty() ? "%g" : m.format.c_str(), m.value);
  text.append(value);
  if (!m.units.empty()) text.append(" ").append(port::WideToUtf8(m.units));
  return text;
}

}  // namespace

CGaugeService::CGaugeService(CtVar* root, CDeviceParams* params, const InspectionSettings& settings)
    : root_(root),
      params_(params),
      default_rate_hz_(settings.rate_hz),
      inspection_(settings.seed, settings.width, settings.height) {
  loop_ = std::make_unique<CGaugeLoop>([this] { InspectOnce(); }, [this] { return RateHz(); });
}

CGaugeService::~CGaugeService() {
  Stop();
}

void CGaugeService::Stop() {
  loop_->Stop();
  fanout_.Stop();
}

void CGaugeService::AddClient(uint32_t client_id, CResultFanout::Deliver deliver) {
  fanout_.AddClient(client_id, std::move(deliver));
}

void CGaugeService::RemoveClient(uint32_t client_id) {
  fanout_.RemoveClient(client_id);
  std::lock_guard lock(cursor_mu_);
  enum_cursor_.erase(client_id);
}

bool CGaugeService::Trigger() {
  return engine_mode_ == kEngineInspect && loop_->Trigger();
}

double CGaugeService::RateHz() const {
  if (engine_mode_ != kEngineInspect || params_->Get(kParamTriggerMode, 0) != 0) return 0;
  const double rate = params_->Get(kParamFrameRate, 0);
  return rate > 0 ? rate : default_rate_hz_;
}

void CGaugeService::InspectOnce() {
  if (engine_mode_ != kEngineInspect) return;
  const CPartGauge::Report report = inspection_.Inspect(SteadyMs());
  Publish(report);
  auto message = std::make_shared<CLumMsg>(kMsgResults);
  CLumVariant image(LUM_VT_IMAGE);
  image.AddImage(report.image.data(), static_cast<long>(report.image.size()),
                 static_cast<uint32_t>(report.width), static_cast<uint32_t>(report.height), 8, 0);
  message->Add(std::move(image));
  message->Add(PackResultVar(report.record));
  CLumVariant texts(LUM_VT_STRING);
  for (const auto& m : report.values) texts.AddString(ValueText(m).c_str());
  message->Add(std::move(texts));
  fanout_.Publish(std::move(message));
}

void CGaugeService::Publish(const CPartGauge::Report& report) {
  if (!root_) return;
  CtVarLock lock;
  CtVar& app = (*root_)["AppVar"];
  for (const auto& m : report.values) {
    CtVar& var = app[std::string_view(m.name)];
    if (m.is_text) {
      var = m.text;
    } else {
      var = m.value;
      if (var.FormatView() != m.format) var.SetFormat(m.format.c_str());
      if (!var.GetUnits() || m.units != var.GetUnits()) var.SetUnits(m.units.c_str());
    }
    var.SetOptions(TVAR_OPT_RESULT_VAR);
    var.SetResult(m.result);
    var["Result"] = static_cast<double>(m.result);
  }
  app["Result"] = static_cast<double>(report.result);
}

bool CGaugeService::HandleMessage(uint32_t client_id, const CLumMsg& req, CLumMsg* reply) {
  switch (req.GetId()) {
    case kMsgSoftwareTrigger:
      reply->Add(CLumVariant(Trigger() ? 1 : 0));
      return true;
    case kMsgResetResultCount:
      inspection_.ResetCounters();
      reply->Add(CLumVariant(1));
      return true;
    case kMsgGetResultCount:
      reply->Add(PackResultVar(inspection_.Counters()));
      return true;
    case kMsgGetRecycleEnable:
      reply->Add(CLumVariant(inspection_.RecycleEnabled() ? 1 : 0));
      return true;
    default:
      return calibration_.Handle(req, reply) || HandleModeMessage(req, reply) ||
             HandleMeasMessage(client_id, req, reply);
  }
}

bool CGaugeService::HandleModeMessage(const CLumMsg& req, CLumMsg* reply) {
  switch (req.GetId()) {
    case kMsgGetEngineMode:
      reply->Add(CLumVariant(static_cast<uint32_t>(engine_mode_)));
      return true;
    case kMsgSetEngineMode: {
      const int64_t mode = req.Get(0).GetLongLong(0);
      const bool valid = mode == kEngineIdle || mode == kEngineInspect;
      if (valid) engine_mode_ = static_cast<uint32_t>(mode);
      reply->Add(CLumVariant(valid ? 1 : 0));
      return true;
    }
    case kMsgGetAppMode:
      reply->Add(CLumVariant(app_mode_.load()));
      return true;
    case kMsgSetAppMode:
      app_mode_ = static_cast<int>(req.Get(0).GetLongLong(0));
      reply->Add(CLumVariant(app_mode_.load()));
      return true;
    case kMsgLockHistory:
    case kMsgUnLockHistory:
      history_locked_ = req.GetId() == kMsgLockHistory;
      reply->Add(CLumVariant(1));
      return true;
    case kMsgGetFrameworkState:
      // Whether the framework runs, then what it does: the engine mode.
      reply->Add(CLumVariant(1));
      reply->Add(CLumVariant(static_cast<int>(engine_mode_.load())));
      return true;
    case kMsgSendMsgHandlerEvent:
      last_event_ = static_cast<int>(req.Get(0).GetLongLong(0));
      return true;
    default:
      return false;
  }
}

bool CGaugeService::HandleMeasMessage(uint32_t client_id, const CLumMsg& req, CLumMsg* reply) {
  const int id = req.GetId();
  if (id != kMsgGetNextMeasVar && id != kMsgGetMeasVarProperties &&
      id != kMsgSetMeasVarProperties && id != kMsgGetMeasVarStats && id != kMsgResetMeasVarStats &&
      id != kMsgGetMeasVarAttributes) {
    return false;
  }
  if (id == kMsgGetNextMeasVar) {
    // The simulated appliance has one camera; any other has no variables.
    const bool next = req.Get(0).GetLongLong(0) != 0;
    const bool camera0 = req.Get(1).GetLongLong(0) == 0;
    std::lock_guard lock(cursor_mu_);
    int& cursor = enum_cursor_[client_id];
    cursor = next ? cursor + 1 : 0;
    reply->Add(CLumVariant(camera0 ? inspection_.VarName(cursor).c_str() : ""));
    return true;
  }
  const std::string name = TextAt(req, 0);
  if (req.Get(1).GetLongLong(0) != 0) return true;  // no such camera: an empty reply
  switch (id) {
    case kMsgGetMeasVarProperties: {
      MEASVARPROPS props;
      if (inspection_.GetProps(name, &props)) AddRecord(reply, props);
      break;
    }
    case kMsgSetMeasVarProperties: {
      MEASVARPROPS props;
      const bool ok = RecordFromBytes(DataAt(req, 2), &props) && inspection_.SetProps(name, props);
      reply->Add(CLumVariant(ok ? 1 : 0));
      break;
    }
    case kMsgGetMeasVarStats: {
      auto stats = std::make_unique<OZK_MEAS_VAR_STAT_RECORD>();
      if (inspection_.GetStats(name, stats.get())) AddRecord(reply, *stats);
      break;
    }
    case kMsgResetMeasVarStats:
      reply->Add(CLumVariant(inspection_.ResetStats(name) ? 1 : 0));
      break;
    case kMsgGetMeasVarAttributes: {
      OZK_MEAS_VAR_ATTR attr;
      if (inspection_.GetAttr(name, &attr)) AddRecord(reply, attr);
      break;
    }
  }
  return true;
}
