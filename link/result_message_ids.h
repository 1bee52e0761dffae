// Message ids of result counters, measurement statistics and calibration (the results messages
// and the mode exchanges are in server_message_ids.h).
#pragma once

#include <cstdint>

#include "link/server_message_ids.h"

enum VelResultMsg : int32_t {
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
  // This server's own requests: take one image now, and start the counters again from zero.
  kMsgSoftwareTrigger = 24700,
  kMsgResetResultCount = 24701,
};
