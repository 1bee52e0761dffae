// The server side of the device services: answers one device message from the appliance model.
//
// Every request variant is read defensively (a missing or mistyped variant reads as 0 or an
// empty text, and a data variant is never read past its own size), so a malformed request gets
// a failure answer, never a crash. Lists of numbers travel as data blocks of little-endian
// 32-bit integers or 64-bit doubles.
#pragma once

#include "engine/appliance_model.h"
#include "netmsg/lum_msg.h"

// Returns false when request is not a device message (reply untouched).
bool HandleDeviceMessage(CApplianceModel& model, const CLumMsg& request, CLumMsg* reply);
