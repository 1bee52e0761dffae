// CVelAppClient: measurement variables, their statistics, the result counters and the value text
// of a variable. The server judges and accumulates; the client only asks and shows.
#include <cmath>
#include <cstring>

#include "link/result_message_ids.h"
#include "link/vel_app_client.h"
#include "platform/format.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// 0x00BBGGRR, by VAR_RESULT_TYPE: none and rejected red, passed green, recycled orange.
constexpr int kResultColour[] = {255, 32768, 33023, 255};

std::span<const uint8_t> ReplyData(const CLumMsg& reply) {
  const std::string_view bytes = reply.Get(0).GetBytes(0);
  if (reply.Get(0).GetType() != LUM_VT_DATA) return {};
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

bool IsResultName(std::string_view name) {
  return port::EqualsNoCase(name, "Result");
}

// Some ancestor (not itself named "Result") receives results and has none yet.
bool AncestorAwaitsResult(const CtVar* v) {
  for (const CtVar* a = v->GetParent(); a; a = a->GetParent()) {
    if (!IsResultName(a->NameView()) && a->GetResult() == VAR_RESULT_NONE &&
        (a->GetOptions() & TVAR_OPT_RESULT_VAR))
      return true;
  }
  return false;
}

// A lookup by name would also answer a node named "Result" with itself.
CtVar* ResultChild(const CtVar* v) {
  CtVarLock lock;
  for (CtVar* c = v->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (IsResultName(c->NameView())) return c;
  }
  return nullptr;
}

}  // namespace

template <typename Record>
static int FetchRecord(CVelAppClient* client, int32_t id, const char* name, int camera,
                       Record* out) {
  if (!out) return 0;
  CLumMsg request(id), reply;
  request.Add(CLumVariant(name ? name : ""));
  request.Add(CLumVariant(camera));
  if (client->SendNetMessage(&request, &reply) != 0) return 0;
  return RecordFromBytes(ReplyData(reply), out) ? 1 : 0;
}

int CVelAppClient::GetNextMeasVar(int next, int camera, char* name, size_t name_size) {
  CLumMsg request(kMsgGetNextMeasVar), reply;
  request.Add(CLumVariant(next));
  request.Add(CLumVariant(camera));
  if (SendNetMessage(&request, &reply) != 0 || reply.Size() == 0) return 0;
  const char* found = reply.Get(0).GetString(0);
  if (!found || !*found) return 0;
  if (name && name_size > 0) {
    const size_t n = std::min(std::strlen(found), name_size - 1);
    std::memcpy(name, found, n);
    name[n] = '\0';
  }
  return 1;
}

int CVelAppClient::GetMeasVarProperties(const char* name, int camera, MEASVARPROPS* props) {
  return FetchRecord(this, kMsgGetMeasVarProperties, name, camera, props);
}

int CVelAppClient::SetMeasVarProperties(const char* name, int camera, const MEASVARPROPS* props) {
  if (!props) return 0;
  CLumMsg request(kMsgSetMeasVarProperties);
  request.Add(CLumVariant(name ? name : ""));
  request.Add(CLumVariant(camera));
  const auto bytes = RecordBytes(*props);
  request.Add(CLumVariant(bytes.data(), static_cast<long>(bytes.size()), true));
  SendNetMessage(&request, nullptr);
  return 1;
}

int CVelAppClient::GetMeasVarStats(const char* name, int camera, OZK_MEAS_VAR_STAT_RECORD* stats) {
  if (!FetchRecord(this, kMsgGetMeasVarStats, name, camera, stats)) return 0;
  if (stats->count == 0) {  // a display range before the first value
    stats->min = 0;
    stats->max = 1.0;
  }
  return 1;
}

void CVelAppClient::ResetMeasVarStats(const char* name, int camera) {
  CLumMsg request(kMsgResetMeasVarStats), reply;
  request.Add(CLumVariant(name ? name : ""));
  request.Add(CLumVariant(camera));
  SendNetMessage(&request, &reply);
}

int CVelAppClient::GetMeasurementVarAttributes(const char* name, int camera,
                                               OZK_MEAS_VAR_ATTR* attr) {
  return FetchRecord(this, kMsgGetMeasVarAttributes, name, camera, attr);
}

double CVelAppClient::GetMeasStdDeviation(const OZK_MEAS_VAR_STAT_RECORD* stats) {
  if (!stats || stats->count <= 0) return 0;
  const double mean = stats->mean;
  const double variance = stats->sum_squares / stats->count - mean * mean;
  // Rounding can leave a constant series a hair below zero.
  return variance > 0 ? std::sqrt(variance) : 0;
}

int CVelAppClient::GetResultCount(OZK_PROCESS_RESULTS* results) {
  CLumMsg request(kMsgGetResultCount), reply;
  if (SendNetMessage(&request, &reply) != 0 || reply.Size() == 0) return 0;
  return UnPackResultVar(reply.Get(0), results);
}

int CVelAppClient::GetRecycleEnable() {
  CLumMsg request(kMsgGetRecycleEnable), reply;
  SendNetMessage(&request, &reply);
  recycle_enable_ = static_cast<int>(reply.Get(0).GetLongLong(0));
  return recycle_enable_;
}

int CVelAppClient::SoftwareTrigger() {
  CLumMsg request(kMsgSoftwareTrigger), reply;
  return SendNetMessage(&request, &reply) == 0 && reply.Get(0).GetLongLong(0) != 0;
}

int CVelAppClient::ResetResultCount() {
  CLumMsg request(kMsgResetResultCount), reply;
  return SendNetMessage(&request, &reply) == 0 && reply.Get(0).GetLongLong(0) != 0;
}

int CVelAppClient::GetVarValueStr(CtVar* v, std::string* text, int colour_only) {
  if (text) text->clear();
  if (!v) return 0;
  CtVar* r = ResultChild(v);
  const auto colour_of = [](double result) {
    const double t = std::trunc(result);
    return t >= 0 && t <= 3 ? kResultColour[static_cast<int>(t)] : -1;
  };
  int colour = 0;
  if (r || v->GetResult() != VAR_RESULT_NONE) colour = kResultColour[v->GetResult() & 3];
  if (colour_only || !text) {
    if (!r) return colour;
    const int by_value = colour_of(static_cast<double>(*r));
    return by_value >= 0 ? by_value : colour;
  }
  if (r && v->GetFormat() == "%z") v = r;

  const std::string format = v->GetFormat();  // refreshes a mirrored variable
  std::string value;
  switch (v->GetStoredType()) {
    case OZK_TVAR_DOUBLE: {
      const double number = static_cast<double>(*v);
      if (IsResultName(v->NameView())) {
        static constexpr const char* kNames[] = {"Undefined", "Passed", "Recycled", "Rejected"};
        const int c = colour_of(number);
        if (c < 0 || number != std::trunc(number)) return colour;
        *text = std::string(" = ") + kNames[static_cast<int>(number)];
        return c;
      }
      if (!format.empty()) {
        port::FormatNumber(format, number, &value);
        *text = " = " + value;
      } else if (r ? v->GetResult() == VAR_RESULT_NONE : AncestorAwaitsResult(v)) {
        *text = " = ?";
      } else {
        port::FormatNumber("%g", number, &value);
        *text = " = " + value;
      }
      break;
    }
    case OZK_TVAR_STRING: {
      const char* s = static_cast<const char*>(*v);
      std::string line = s ? s : "";
      for (char& c : line) {
        if (c == '\n') c = ' ';
      }
      *text = " = " + line;
      return colour;  // a text never gets units
    }
    case OZK_TVAR_INT: {
      const double number = static_cast<double>(*v);
      if (!format.empty()) {
        port::FormatNumber(format, number, &value);
        *text = " = " + value;
      } else if (r && v->GetResult() == VAR_RESULT_NONE) {
        *text = " = ?";
      } else {
        port::FormatNumber("%d", number, &value);
        *text = " = " + value;
      }
      break;
    }
    default:
      return colour;
  }
  if (const wchar_t* units = v->GetUnits(); units && *units) {
    text->push_back(' ');
    text->append(port::WideToUtf8(units));
  }
  return colour;
}
