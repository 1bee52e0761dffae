// CVelAppliance: the client's extension point for one kind of appliance. The appliance library
// named by the application attributes exports "CreateApplianceObject" (client) returning an
// object of a class derived from this one; the client forwards to it the server's requests it
// does not handle itself, the results, its window messages and the solution and camera events.
//
// The base dispatches the server's notifications (24577 to 24586, 20597, the results 36864 and
// 36865) to the virtual handlers below, keeps the monitor panel up to date, and looks any other
// identifier up in the handler table (AddMessageHandler, 40 entries) and then in the class's
// message map. Handlers run on the thread the client delivers on (see CVelAppClient); panel
// changes from other threads are posted to the panel's own thread.
//
// The virtual operations keep the order of the original's table, so that a derived class built
// against this header agrees with it. Everything the base does not describe does nothing, or
// returns 0 or null.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

class CLumMsg;
class CPanelCtrl;
class CVelAppClient;

class CVelAppliance;
using VelMessageHandler = int (*)(CVelAppliance* appliance, CLumMsg* request, CLumMsg* reply);

// One entry of a class's message map; a map ends with an entry whose function is null. The
// function is called with the appliance's address plus offset (a member object's handler).
struct VelMessageMapEntry {
  uint32_t id;
  int (*fn)(void* object, CLumMsg* request, CLumMsg* reply);
  ptrdiff_t offset;
};

class CVelAppliance {
 public:
  static constexpr int kMaxMessageHandlers = 40;
  static constexpr int kDisplayStates = 8;

  explicit CVelAppliance(CVelAppClient* client) : client_(client) { display_states_.fill(1); }
  virtual ~CVelAppliance() = default;

  virtual int Initialize() { return 0; }
  virtual int Terminate() { return 0; }
  virtual const VelMessageMapEntry* GetMessageMap() const { return nullptr; }
  // The fixed dispatch, then the handler table, then the message map.
  virtual int OnNetMessage(CLumMsg* request, CLumMsg* reply);
  virtual intptr_t OnWndMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) { return 0; }
  virtual int OnRcvStreamStart(int id, int length) { return 0; }
  virtual void OnConnected() {}
  virtual void OnServerConnected() {}
  virtual int IsColorSupported() { return 0; }
  virtual void OnDisconnect(int reason) {}
  virtual void OnMonitorPanel() {}
  virtual void OnNewSolution() {}
  virtual void OnLoadSolution() {}
  virtual void OnImportSolution() {}
  virtual void OnSolutionChanged(int id) {}
  virtual void OnSolutionChangeBegin() {}
  virtual void OnCameraChanged(int camera) {}
  virtual void OnChangeNumOfCameras(int count) {}
  virtual void OnSetZoom(int zoom) {}
  // What the server's notification 24582 asks for.
  virtual void OnRelearn() {}
  virtual void UpdateImageDisplay() {}
  // A result: complete is 1 for 36865, 0 for 36864.
  virtual int OnResults(CLumMsg* request, CLumMsg* reply, int complete) { return 0; }
  virtual int OnAlarmMsg(CLumMsg* request, CLumMsg* reply);
  virtual int OnSolutionChangedMsg(CLumMsg* request, CLumMsg* reply);
  virtual int OnUpdateStateMsg(CLumMsg* request, CLumMsg* reply);
  virtual int OnCameraChangedMsg(CLumMsg* request, CLumMsg* reply);
  // The host makes its own panels: with a parent given, panel replaces (and the appliance
  // deletes) the kept one. Returns the kept panel.
  virtual CPanelCtrl* GetMonitorPanel(void* parent, CPanelCtrl* panel);
  virtual CPanelCtrl* CreateToleranceTile(void* parent) { return nullptr; }
  virtual CPanelCtrl* GetCalibratePanel(void* parent) { return nullptr; }
  virtual CPanelCtrl* GetCalibrateTile(void* parent) { return nullptr; }
  // Stored for indexes below kDisplayStates.
  virtual void SetDisplayState(int index, int value);
  virtual CPanelCtrl* GetSetupPanel(void* parent) { return nullptr; }
  virtual int RenderOverlay(const uint8_t* source, uint8_t* destination, const void* overlay,
                            int width, int height, int flags, int camera) {
    return 0;
  }
  virtual int CameraChangeSync(int value) { return 0; }
  virtual int OnAppModeChangedMsg(CLumMsg* request, CLumMsg* reply);
  virtual int SetGuiRectEnterMode(int mode) { return 0; }
  virtual void SetCursorInfoWindow(void* window) {}

  // 1, or 0 when all kMaxMessageHandlers entries are used.
  int AddMessageHandler(uint32_t id, VelMessageHandler fn);
  CVelAppClient* GetAppClient() const { return client_; }
  // With destroy_old, the kept panel's window is destroyed and the panel deleted. The client
  // calls the appliance object under its update mutex; a host that changes the panel while
  // results arrive holds it too (CVelAppClient::GetUpdateMutex).
  void SetMonitorPanel(CPanelCtrl* panel, int destroy_old);
  // On the panel's thread at once, from any other through message 1037.
  void ResetMonitorPanel();
  void SetClosingFlag(int closing);

  int IsEnabled() const { return enabled_; }
  int GetDisplayState(int index) const;
  int GetCurrentSolution() const { return solution_; }
  void SetCurrentSolution(int id) { solution_ = id; }

 private:
  struct HandlerEntry {
    uint32_t id = 0;
    VelMessageHandler fn = nullptr;
  };
  int DispatchOther(CLumMsg* request, CLumMsg* reply);
  int OnResultsMessage(CLumMsg* request, CLumMsg* reply);
  // The panel the notifications show on: the current sub-panel when it is a window, else the
  // monitor panel; null when the monitor panel is missing or not a window.
  CPanelCtrl* TargetPanel();

  CVelAppClient* client_;
  std::atomic<int> solution_{0};
  std::atomic<int> enabled_{1};
  CPanelCtrl* panel_ = nullptr;
  std::array<int, kDisplayStates> display_states_;
  std::mutex handlers_mu_;
  std::array<HandlerEntry, kMaxMessageHandlers> handlers_;
};

extern "C" {
using CreateApplianceObjectFn = CVelAppliance* (*)(CVelAppClient* client);
// The product version text of an appliance library ("1.8.0.0"), the stand-in of its file
// version resource.
using VelProductVersionFn = const char* (*)();
}
