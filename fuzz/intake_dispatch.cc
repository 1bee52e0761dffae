// The client's dispatch of server messages on arbitrary message bodies: the first byte picks
// the request id (requests that write files are left out), the rest decodes as the message.
// Results take the whole path (appliance object, VB result status and display configuration),
// so short, mistyped and oversized values all reach the handlers.
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/vel_appliance.h"
#include "link/server_message_ids.h"
#include "link/vel_app_client.h"
#include "netmsg/lum_wire.h"

namespace {

constexpr int32_t kIds[] = {
    kMsgStatusRecord,    kMsgImage,           kMsgTextSlot,
    kMsgPanelValues,     kMsgReleaseVar,      kMsgSolutionTransfer,
    kMsgResultsHistory,  kMsgResults,         kMsgAlarm,
    kMsgSolutionChanged, kMsgUpdateState,     kMsgCameraChanged,
    kMsgAppModeChanged,  kMsgAppModeValue,    kMsgPanelMessage,
    kMsgPanelAttributes, kMsgApplianceNotify, 24999,
};

CVelAppClient* Client() {
  static CVelAppClient* client = [] {
    auto* c = new CVelAppClient;
    c->SetAppliance(new CVelAppliance(c));
    c->SetVBClient(1);
    return c;
  }();
  return client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  CLumMsg request;
  if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), &request))
    return 0;
  request.SetId(kIds[data[0] % std::size(kIds)]);
  CLumMsg reply;
  Client()->OnNetMessage(&request, &reply);
  return 0;
}
