// Message ids the server sends the client (results, requests and notifications), and the mode
// exchanges the client starts.
#pragma once

#include <cstdint>

enum VelServerMsg : int32_t {
  // Requests and notifications from the server.
  kMsgStatusRecord = 20566,
  kMsgCsvLog = 20583,
  kMsgAppendText = 20632,
  kMsgImage = 20646,
  kMsgTextSlot = 20656,
  kMsgPanelValues = 20660,
  kMsgReleaseVar = 20664,
  kMsgSolutionTransfer = 20665,
  kMsgDeviceRecord = 20666,
  kMsgResultsHistory = 36864,  // dropped while the history is locked
  kMsgResults = 36865,
  // Notifications for the appliance object.
  kMsgApplianceIgnored = 24577,
  kMsgAlarm = 24578,
  kMsgSolutionChanged = 24579,
  kMsgUpdateState = 24580,
  kMsgCameraChanged = 24581,
  kMsgApplianceNotify = 24582,
  kMsgAppModeChanged = 24583,
  kMsgAppModeValue = 24584,
  kMsgPanelMessage = 24585,
  kMsgCloseConnectDialog = 24586,
  kMsgPanelAttributes = 20597,
  // Mode exchanges.
  kMsgGetEngineMode = 20481,
  kMsgSetEngineMode = 20482,
  kMsgGetAppMode = 20490,
  kMsgSetAppMode = 20491,
  kMsgLockHistory = 20495,
  kMsgUnLockHistory = 20496,
  kMsgGetFrameworkState = 20518,
  kMsgSendMsgHandlerEvent = 20648,
};

// Window messages of the monitor panel and the client's views.
enum VelWindowMsg : uint32_t {
  kWmShowWindow = 0x0018,
  kWmSolutionChangeBegin = 1035,
  kWmResetPanel = 1037,
  kWmStatusRecord = 0x40F,
  kWmTextSlot = 0x410,
  kWmPanelValues = 0x411,
};
