// CPanelCtrl: the monitor panel as the appliance object sees it. The runtime user interface is
// the host's; a host that shows one derives from this class and overrides what it displays.
//
// A panel is a window on the thread that constructs it (that thread runs a port::MessageLoop);
// other threads change it only by posting window messages, which its WindowProc applies there.
// The base shows nothing: every display operation does nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/message_loop.h"

class CLumMsg;

class CPanelCtrl {
 public:
  CPanelCtrl();
  virtual ~CPanelCtrl();
  CPanelCtrl(const CPanelCtrl&) = delete;
  CPanelCtrl& operator=(const CPanelCtrl&) = delete;

  bool IsWindow() const { return window_ && window_->IsWindow(); }
  bool IsOwnerThread() const { return window_ && window_->IsOwnerThread(); }
  bool PostMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) const;
  // Ends the window; the panel is not a window afterwards.
  virtual void DestroyWindow() { window_.reset(); }

  // Server messages for the panel (24585), and results before the appliance object sees them:
  // kStopResult keeps them from it.
  static constexpr int kStopResult = 3;
  virtual int OnNetMessage(CLumMsg* request, CLumMsg* reply) { return 0; }
  // The sub-panel shown now, or null.
  virtual CPanelCtrl* GetCurrentSubPanel() { return nullptr; }
  virtual uint32_t GetPanelAttributes() { return 0; }

  virtual void Reset(int full) {}
  virtual void ShowWindow(int show) {}
  virtual void EnableChangeSolution(int enable) {}
  virtual void SetClosingFlag(int closing) {}
  virtual void SetTriggerButton(int value) {}
  virtual void SetSolution(int id, const std::string& description) {}
  virtual void SetCurrentCamera(int camera) {}
  virtual void SetNumOfCameras(int count) {}
  virtual void SelectCamera(int camera) {}
  // The framework state with its text ("" for none); 3 is an alarm.
  virtual void SetState(int state, const std::string& text) {}
  virtual void SetCameraState(int state) {}
  virtual void RefreshState() {}

 protected:
  // Runs on the panel's thread: 1037 resets with wparam, show-window shows or hides.
  virtual intptr_t WindowProc(uint32_t message, uintptr_t wparam, intptr_t lparam);

 private:
  std::unique_ptr<port::Window> window_;
};
