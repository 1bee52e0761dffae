// CVelAppClient: the calibration requests. The server calibrates; the client passes the
// caller's settings and hands back the answers, never writing past a caller's buffer.
#include <algorithm>
#include <cstring>

#include "link/result_message_ids.h"
#include "link/vel_app_client.h"

namespace {

void AddUnsigned(CLumMsg* request, std::span<const uint32_t> values) {
  for (uint32_t v : values) request->Add(CLumVariant(v));
}

void CopyInt(const CLumMsg& reply, int index, int* out) {
  if (out) *out = static_cast<int>(reply.Get(index).GetLongLong(0));
}

// Only a data value is copied; what does not fit is cut, keeping a terminating zero.
void CopyBuffer(const CLumMsg& reply, int index, std::span<char> out) {
  const CLumVariant& v = reply.Get(index);
  if (out.empty() || v.GetType() != LUM_VT_DATA) return;
  const std::string_view bytes = v.GetBytes(0);
  if (bytes.size() <= out.size()) {
    if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
    if (bytes.size() < out.size()) out[bytes.size()] = '\0';
  } else {
    std::memcpy(out.data(), bytes.data(), out.size() - 1);
    out.back() = '\0';
  }
}

int Result(const CLumMsg& reply) {
  return static_cast<int>(reply.Get(0).GetLongLong(0));
}

}  // namespace

int CVelAppClient::CalStart(const std::array<uint32_t, 5>& values, const char* text, int* out_int,
                            float* out_float, std::span<char> buffer1, std::span<char> buffer2) {
  CLumMsg request(kMsgCalStart), reply;
  AddUnsigned(&request, values);
  const char* t = text ? text : "";
  request.Add(CLumVariant(t, static_cast<long>(std::strlen(t)) + 1, true));
  SendNetMessage(&request, &reply);
  CopyInt(reply, 1, out_int);
  if (out_float) *out_float = static_cast<float>(reply.Get(2).GetDouble(0));
  CopyBuffer(reply, 3, buffer1);
  CopyBuffer(reply, 4, buffer2);
  return Result(reply);
}

int CVelAppClient::CalFindFlatZone(int camera, const std::array<uint32_t, 5>& values, int int1,
                                   int int2, float level, uint32_t flags, float gain1, float gain2,
                                   int* out1, int* out2, std::span<char> buffer1,
                                   std::span<char> buffer2) {
  CLumMsg request(kMsgCalFindFlatZone), reply;
  request.Add(CLumVariant(camera));
  AddUnsigned(&request, values);
  request.Add(CLumVariant(int1));
  request.Add(CLumVariant(int2));
  request.Add(CLumVariant(level));
  request.Add(CLumVariant(flags));
  request.Add(CLumVariant(gain1));
  request.Add(CLumVariant(gain2));
  SendNetMessage(&request, &reply);
  CopyInt(reply, 1, out1);
  CopyInt(reply, 2, out2);
  CopyBuffer(reply, 3, buffer1);
  CopyBuffer(reply, 4, buffer2);
  return Result(reply);
}

int CVelAppClient::CalSelectCalPoint(int camera, const std::array<uint32_t, 5>& values, int int1,
                                     int int2, int* out1, int* out2, std::span<char> buffer1,
                                     std::span<char> buffer2) {
  CLumMsg request(kMsgCalSelectCalPoint), reply;
  request.Add(CLumVariant(camera));
  AddUnsigned(&request, values);
  request.Add(CLumVariant(int1));
  request.Add(CLumVariant(int2));
  SendNetMessage(&request, &reply);
  CopyInt(reply, 1, out1);
  CopyInt(reply, 2, out2);
  CopyBuffer(reply, 3, buffer1);
  CopyBuffer(reply, 4, buffer2);
  return Result(reply);
}

int CVelAppClient::CalSaveAllValues(const std::array<uint32_t, 11>& values) {
  CLumMsg request(kMsgCalSaveAllValues), reply;
  AddUnsigned(&request, values);
  SendNetMessage(&request, &reply);
  return Result(reply);
}
