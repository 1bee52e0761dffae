#include "app/panel_ctrl.h"

#include "link/server_message_ids.h"

CPanelCtrl::CPanelCtrl()
    : window_(std::make_unique<port::Window>(
          [this](uint32_t message, uintptr_t wparam, intptr_t lparam) {
            return WindowProc(message, wparam, lparam);
          })) {}

CPanelCtrl::~CPanelCtrl() = default;

bool CPanelCtrl::PostMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
  return window_ && window_->Post(message, wparam, lparam);
}

intptr_t CPanelCtrl::WindowProc(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == kWmResetPanel) Reset(static_cast<int>(wparam));
  if (message == kWmShowWindow) ShowWindow(static_cast<int>(wparam));
  return 0;
}
