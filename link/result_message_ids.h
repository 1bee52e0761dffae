// Message ids of results, measurement statistics, calibration and the server's modes.
#pragma once

#include <cstdint>

enum VelResultMsg : int32_t {
  // Modes.
  kMsgGetEngineMode = 20481,
  kMsgSetEngineMode = 20482,
  kMsgGetAppMode = 20490,
  kMsgSetAppMode = 20491,
  kMsgLockHistory = 20495,
  kMsgUnLockHistory = 20496,
  kMsgGetFrameworkState = 20518,
  kMsgSendMsgHandlerEvent = 20648,
  // Results and statistics.
  kMsgGetResultCount = 20555,
  kMsgGetRecycleEnable = 20581,
  kMsgGetNextMeasVar = 20590,
  kMsgGetMeasVarProperties = 20591,
  kMsgSetMeasVarProperties = 20592,
  kMsgGetMeasVarStats = 20594,
  kMsgResetMeasVarStats = 20601,
  kMsgGetMeasVarAttributes = 20602,
  // Calibration.
  kMsgCalFindFlatZone = 20612,
  kMsgCalSelectCalPoint = 20613,
  kMsgCalSaveAllValues = 20614,
  kMsgCalStart = 20620,
  // Results the server sends; 36864 is dropped by a client whose history is locked.
  kMsgRunResultsLogged = 36864,
  kMsgRunResults = 36865,
  // This server's own requests: take one image now, and start the counters again from zero.
  kMsgSoftwareTrigger = 24700,
  kMsgResetResultCount = 24701,
};
