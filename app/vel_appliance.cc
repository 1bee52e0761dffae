#include "app/vel_appliance.h"

#include <string>

#include "app/panel_ctrl.h"
#include "link/server_message_ids.h"
#include "link/vel_app_client.h"
#include "netmsg/lum_msg.h"

namespace {

constexpr int kAlarmState = 3;
constexpr int kGrabTypeTriggered = 3;
constexpr int kTriggerParam = 10;
constexpr int kCameras = 8;

int IntAt(const CLumMsg& m, int index) {
  return static_cast<int>(m.Get(index).GetLongLong(0));
}

std::string TextAt(const CLumMsg& m, int index) {
  return std::string(m.Get(index).GetType() == LUM_VT_STRING ? m.Get(index).GetBytes(0)
                                                             : std::string_view());
}

}  // namespace

int CVelAppliance::OnNetMessage(CLumMsg* request, CLumMsg* reply) {
  if (!request) return 0;
  switch (request->GetId()) {
    case kMsgApplianceIgnored:
      return 0;
    case kMsgAlarm:
      return OnAlarmMsg(request, reply);
    case kMsgSolutionChanged:
      return OnSolutionChangedMsg(request, reply);
    case kMsgUpdateState:
      return OnUpdateStateMsg(request, reply);
    case kMsgCameraChanged:
      return OnCameraChangedMsg(request, reply);
    case kMsgApplianceNotify:
      OnRelearn();
      return 0;
    case kMsgAppModeChanged:
      return OnAppModeChangedMsg(request, reply);
    case kMsgAppModeValue:
      if (client_) client_->SetCurrentAppMode(IntAt(*request, 0));
      return 0;
    case kMsgPanelMessage:
      return enabled_ && panel_ ? panel_->OnNetMessage(request, reply) : 0;
    case kMsgCloseConnectDialog:
      return 0;  // this library shows no connect dialog
    case kMsgPanelAttributes: {
      CPanelCtrl* sub = panel_ ? panel_->GetCurrentSubPanel() : nullptr;
      if (reply) reply->Add(CLumVariant(sub ? sub->GetPanelAttributes() : 0u));
      return 0;
    }
    case kMsgResultsHistory:
    case kMsgResults:
      return OnResultsMessage(request, reply);
  }
  return DispatchOther(request, reply);
}

int CVelAppliance::OnResultsMessage(CLumMsg* request, CLumMsg* reply) {
  if (!enabled_) return 0;
  if (panel_ && panel_->OnNetMessage(request, reply) == CPanelCtrl::kStopResult) return 0;
  return OnResults(request, reply, request->GetId() == kMsgResults ? 1 : 0);
}

int CVelAppliance::DispatchOther(CLumMsg* request, CLumMsg* reply) {
  const uint32_t id = static_cast<uint32_t>(request->GetId());
  VelMessageHandler fn = nullptr;
  {
    std::lock_guard lock(handlers_mu_);
    for (const HandlerEntry& e : handlers_) {
      if (!e.fn) break;
      if (e.id == id) {
        fn = e.fn;
        break;
      }
    }
  }
  if (fn) return fn(this, request, reply);
  for (const VelMessageMapEntry* e = GetMessageMap(); e && e->fn; ++e) {
    if (e->id == id) return e->fn(reinterpret_cast<char*>(this) + e->offset, request, reply);
  }
  return 0;
}

int CVelAppliance::AddMessageHandler(uint32_t id, VelMessageHandler fn) {
  if (!fn) return 0;
  std::lock_guard lock(handlers_mu_);
  for (HandlerEntry& e : handlers_) {
    if (!e.fn) {
      e = {id, fn};
      return 1;
    }
  }
  return 0;
}

// ---- Notifications ----

CPanelCtrl* CVelAppliance::TargetPanel() {
  if (!panel_ || !panel_->IsWindow()) return nullptr;
  CPanelCtrl* sub = panel_->GetCurrentSubPanel();
  return sub && sub->IsWindow() ? sub : panel_;
}

int CVelAppliance::OnSolutionChangedMsg(CLumMsg* request, CLumMsg* reply) {
  if (IntAt(*request, 0) == 0) {
    enabled_ = 0;
    if (panel_ && panel_->IsWindow()) panel_->PostMessage(kWmSolutionChangeBegin, 0, 0);
    OnSolutionChangeBegin();
    return 0;
  }
  const int camera = IntAt(*request, 1);
  const int cameras = IntAt(*request, 2);
  const int id = IntAt(*request, 3);
  const std::string description = TextAt(*request, 4);
  const auto closing = [&] { return client_ && client_->IsClosing(); };
  if (client_) client_->OnSolutionChanged();
  if (!closing()) {
    ResetMonitorPanel();
    if (CPanelCtrl* target = TargetPanel()) {
      panel_->EnableChangeSolution(1);
      if (target != panel_) target->EnableChangeSolution(1);
    }
  }
  OnSolutionChanged(id);
  if (cameras > 1) OnCameraChanged(camera);
  if (!closing()) {
    if (CPanelCtrl* target = TargetPanel()) {
      if (client_ && client_->GetCachedGrabType() == kGrabTypeTriggered)
        target->SetTriggerButton(static_cast<int>(client_->GetParam(kTriggerParam)) - 1);
      target->SetSolution(id, description);
      target->SetCurrentCamera(camera);
      target->SetNumOfCameras(cameras);
      target->PostMessage(kWmShowWindow, 1, 0);
    }
  }
  enabled_ = 1;
  return 0;
}

int CVelAppliance::OnUpdateStateMsg(CLumMsg* request, CLumMsg* reply) {
  CPanelCtrl* target = TargetPanel();
  if (!target) return 0;
  const int state = IntAt(*request, 0);
  target->SetState(state, "");
  target->SetCameraState(state);
  if (target == panel_) panel_->RefreshState();
  return 0;
}

int CVelAppliance::OnCameraChangedMsg(CLumMsg* request, CLumMsg* reply) {
  const int camera = IntAt(*request, 0);
  if (request->Size() > 3 && IntAt(*request, 4) && client_) {
    for (int c = 0; c < kCameras; ++c)
      if (c != camera) client_->OnCameraChanged(c);
  }
  CPanelCtrl* target = TargetPanel();
  if (target) {
    target->SelectCamera(camera);
    target->SetCameraState(IntAt(*request, 1));
    target->SetSolution(IntAt(*request, 2), TextAt(*request, 3));
  }
  if (client_) client_->OnCameraChanged(camera);
  if (target) {
    target->PostMessage(kWmShowWindow, 0, 0);
    target->PostMessage(kWmShowWindow, 1, 0);
  }
  return 0;
}

int CVelAppliance::OnAlarmMsg(CLumMsg* request, CLumMsg* reply) {
  const std::string text = TextAt(*request, 0);
  if (CPanelCtrl* target = TargetPanel(); target && !text.empty()) {
    target->SetState(kAlarmState, text);
    target->SetCameraState(kAlarmState);
  }
  if (client_) client_->OnAlarm(text);
  return 0;
}

int CVelAppliance::OnAppModeChangedMsg(CLumMsg* request, CLumMsg* reply) {
  const int mode = IntAt(*request, 0);
  if (mode == 0 || mode == 1) {
    if (CPanelCtrl* target = TargetPanel()) target->PostMessage(kWmShowWindow, 1, 0);
  }
  return 0;
}

// ---- Panel and display ----

CPanelCtrl* CVelAppliance::GetMonitorPanel(void* parent, CPanelCtrl* panel) {
  if (parent) SetMonitorPanel(panel, 1);
  return panel_;
}

void CVelAppliance::SetMonitorPanel(CPanelCtrl* panel, int destroy_old) {
  if (destroy_old && panel_ && panel_ != panel) {
    panel_->DestroyWindow();
    delete panel_;
  }
  panel_ = panel;
}

void CVelAppliance::ResetMonitorPanel() {
  if (!panel_ || !panel_->IsWindow()) return;
  if (panel_->IsOwnerThread())
    panel_->Reset(1);
  else
    panel_->PostMessage(kWmResetPanel, 1, 0);
}

void CVelAppliance::SetClosingFlag(int closing) {
  if (panel_) panel_->SetClosingFlag(closing);
}

void CVelAppliance::SetDisplayState(int index, int value) {
  if (index >= 0 && index < kDisplayStates) display_states_[index] = value;
}

int CVelAppliance::GetDisplayState(int index) const {
  return index >= 0 && index < kDisplayStates ? display_states_[index] : 0;
}
