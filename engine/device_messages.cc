#include "engine/device_messages.h"

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "link/device_message_ids.h"

namespace {

std::wstring WideAt(const CLumMsg& m, int i) {
  const wchar_t* text = m.Get(i).GetWString(0);
  return text ? std::wstring(text) : std::wstring();
}

std::span<const uint8_t> DataAt(const CLumMsg& m, int i) {
  const CLumVariant& v = m.Get(i);
  const long size = v.GetDataSize(0);
  const void* data = v.GetData(0);
  if (!data || size <= 0) return {};
  return {static_cast<const uint8_t*>(data), static_cast<size_t>(size)};
}

int64_t IntAt(const CLumMsg& m, int i) {
  return m.Get(i).GetLongLong(0);
}
uint32_t UintAt(const CLumMsg& m, int i) {
  return static_cast<uint32_t>(IntAt(m, i));
}

template <size_t N>
void AddRecord(CLumMsg* reply, const std::array<uint8_t, N>& record) {
  reply->Add(CLumVariant(record.data(), static_cast<long>(N), true));
}

void AddFindReply(CLumMsg* reply, int32_t handle, const VelFindData& d) {
  reply->Add(CLumVariant(static_cast<long>(handle)));
  for (uint32_t w : d.Words()) reply->Add(CLumVariant(w));
  reply->Add(CLumVariant(static_cast<uint32_t>(d.size)));
  reply->Add(CLumVariant(static_cast<uint32_t>(d.size >> 32)));
  reply->Add(CLumVariant(d.name.c_str()));
}

bool HandleFileMessage(CDeviceFiles& files, const CLumMsg& req, CLumMsg* reply) {
  switch (req.GetId()) {
    case kMsgFileFindFirst: {
      VelFindData d;
      AddFindReply(reply, files.FindFirst(WideAt(req, 0), &d), d);
      return true;
    }
    case kMsgFileFindNext: {
      VelFindData d;
      const int32_t handle = static_cast<int32_t>(IntAt(req, 0));
      AddFindReply(reply, files.FindNext(handle, &d) ? handle : -1, d);
      return true;
    }
    case kMsgFileFindClose:
      reply->Add(CLumVariant(files.FindClose(static_cast<int32_t>(IntAt(req, 0)))));
      return true;
    case kMsgFileOpen:
      reply->Add(CLumVariant(static_cast<long long>(files.Open(WideAt(req, 0), WideAt(req, 1)))));
      return true;
    case kMsgFileSeek:
      reply->Add(CLumVariant(files.Seek(static_cast<uint64_t>(IntAt(req, 0)), IntAt(req, 1),
                                        static_cast<int>(IntAt(req, 2)))));
      return true;
    case kMsgFileWrite: {
      auto data = DataAt(req, 0);
      const int64_t length = IntAt(req, 1);
      if (length >= 0 && static_cast<uint64_t>(length) < data.size())
        data = data.first(static_cast<size_t>(length));
      reply->Add(CLumVariant(static_cast<long>(files.Write(
          length > 0 ? data : std::span<const uint8_t>(), static_cast<uint64_t>(IntAt(req, 2))))));
      return true;
    }
    case kMsgFileRead: {
      const int64_t length = IntAt(req, 0);
      const auto data = length > 0 ? files.Read(static_cast<uint32_t>(std::min<int64_t>(
                                                    length, CDeviceFiles::kMaxReadSize)),
                                                static_cast<uint64_t>(IntAt(req, 1)))
                                   : std::vector<uint8_t>();
      reply->Add(CLumVariant(static_cast<long>(data.size())));
      reply->Add(CLumVariant(data.data(), static_cast<long>(data.size()), true));
      return true;
    }
    case kMsgFileClose:
      reply->Add(CLumVariant(files.Close(static_cast<uint64_t>(IntAt(req, 0)))));
      return true;
    case kMsgFileRemove:
      reply->Add(CLumVariant(files.Remove(WideAt(req, 0))));
      return true;
    case kMsgFileMove:
      reply->Add(CLumVariant(files.Move(WideAt(req, 0), WideAt(req, 1))));
      return true;
    case kMsgDirectoryCreate:
      reply->Add(CLumVariant(files.CreateDirectory(WideAt(req, 0))));
      return true;
    case kMsgDirectoryRemove:
      reply->Add(CLumVariant(files.RemoveDirectory(WideAt(req, 0))));
      return true;
    default:
      return false;
  }
}

bool HandleParamMessage(CDeviceParams& params, const CLumMsg& req, CLumMsg* reply) {
  const int32_t id = static_cast<int32_t>(IntAt(req, 0));
  switch (req.GetId()) {
    case kMsgGetParam:
      reply->Add(CLumVariant(params.Get(id, UintAt(req, 1))));
      return true;
    case kMsgSetParam:
      reply->Add(CLumVariant(params.Set(id, req.Get(1).GetDouble(0), UintAt(req, 2))));
      return true;
    case kMsgGetParamCaps: {
      VelParamCaps caps;
      if (params.GetCaps(id, &caps)) AddRecord(reply, EncodeParamCaps(caps));
      return true;
    }
    case kMsgGetAllParams: {
      std::vector<int32_t> ids;
      std::vector<double> values;
      params.GetAll(&ids, &values);
      reply->Add(CLumVariant(static_cast<int>(ids.size())));
      reply->Add(CLumVariant(ids.data(), static_cast<long>(ids.size() * 4), true));
      reply->Add(CLumVariant(values.data(), static_cast<long>(values.size() * 8), true));
      return true;
    }
    default:
      return false;
  }
}

bool HandleGpioMessage(CDeviceGpio& gpio, const CLumMsg& req, CLumMsg* reply) {
  const uint32_t line = UintAt(req, 0);
  VelGpioConfig config;
  switch (req.GetId()) {
    case kMsgGetGpioAttr:
      AddRecord(reply, EncodeGpioAttributes(gpio.Attributes()));
      return true;
    case kMsgGetGPInputValue:
      reply->Add(CLumVariant(gpio.InputBits()));
      return true;
    case kMsgSetOutputPort:
      reply->Add(CLumVariant(gpio.SetOutputPort(line, static_cast<int>(IntAt(req, 1)))));
      return true;
    case kMsgGetGPIConfig:
    case kMsgGetGPOConfig: {
      const bool input = req.GetId() == kMsgGetGPIConfig;
      if (input ? gpio.GetInputConfig(line, &config) : gpio.GetOutputConfig(line, &config))
        AddRecord(reply, EncodeGpioConfig(config));
      return true;
    }
    case kMsgSetGPIConfig:
    case kMsgSetGPOConfig: {
      if (DecodeGpioConfig(DataAt(req, 1), &config)) {
        const bool input = req.GetId() == kMsgSetGPIConfig;
        reply->Add(CLumVariant(input ? gpio.SetInputConfig(line, config)
                                     : gpio.SetOutputConfig(line, config)));
      }
      return true;
    }
    default:
      return false;
  }
}

// Identity, registers, the serial port and the other single-value device messages.
bool HandleIdentityMessage(CApplianceModel& model, const CLumMsg& req, CLumMsg* reply) {
  constexpr int kMaxSolutions = 100;
  constexpr uint32_t kHardwareRevision = 3;
  constexpr uint32_t kFeatureMask = 0x7;
  // The product id and the trigger scalers live in registers of their own, above the range the
  // register messages are meant for.
  constexpr uint32_t kProductIdRegister = 0xFFFF0000;
  constexpr uint32_t kTrigScalerRegister = 0xFFFF0100;
  switch (req.GetId()) {
    case kMsgGetAppAttributes:
      AddRecord(reply, EncodeAppAttributes(model.Attributes()));
      return true;
    case kMsgGetMaxNumberOfSolutions:
      reply->Add(CLumVariant(kMaxSolutions));
      return true;
    case kMsgGetNumOfCameras:
      reply->Add(CLumVariant(model.NumCameras()));
      for (int i = 0; i < model.NumCameras(); ++i) reply->Add(CLumVariant(i + 1));
      return true;
    case kMsgGetVirtualAsyncEnable:
      reply->Add(CLumVariant(0));
      return true;
    case kMsgWriteReg:
      model.WriteReg(UintAt(req, 0), UintAt(req, 1));
      return true;
    case kMsgReadReg:
      reply->Add(CLumVariant(model.ReadReg(UintAt(req, 0))));
      return true;
    case kMsgPutPortString: {
      const auto bytes = DataAt(req, 0);
      model.PutPortString(std::string(bytes.begin(), bytes.end()));
      return true;
    }
    case kMsgGetPortString: {
      const int64_t max = IntAt(req, 0);
      const std::string bytes =
          model.GetPortString(max > 0 ? static_cast<size_t>(std::min<int64_t>(max, 65536)) : 0);
      reply->Add(CLumVariant(bytes.data(), static_cast<long>(bytes.size()), true));
      return true;
    }
    case kMsgGetTemperature:
      reply->Add(CLumVariant(41.5));
      return true;
    case kMsgSetMACAddress:
      model.SetMacAddress(DataAt(req, 0));
      return true;
    case kMsgSetUDPMode:
      model.SetUdpMode({static_cast<int>(IntAt(req, 0)), UintAt(req, 1)});
      return true;
    case kMsgWriteProductID:
      model.WriteReg(kProductIdRegister, UintAt(req, 0));
      return true;
    case kMsgReadProductID:
      reply->Add(CLumVariant(model.ReadReg(kProductIdRegister)));
      return true;
    case kMsgSetTrigScaler:
      model.WriteReg(kTrigScalerRegister + (UintAt(req, 0) & 0xFF), UintAt(req, 1));
      return true;
    case kMsgGetTrigScaler:
      reply->Add(CLumVariant(model.ReadReg(kTrigScalerRegister + (UintAt(req, 0) & 0xFF))));
      return true;
    case kMsgWriteFPGAFile:
      reply->Add(CLumVariant(DataAt(req, 0).empty() ? 0 : 1));
      return true;
    case kMsgGetDeviceSerialNumber:
      reply->Add(CLumVariant(CApplianceModel::kSerialNumber));
      return true;
    case kMsgGetAppFeatureMask:
      reply->Add(CLumVariant(kFeatureMask));
      return true;
    case kMsgGetHardwareRevision:
      reply->Add(CLumVariant(kHardwareRevision));
      return true;
    case kMsgIsLogHistoryToFile:
      AddRecord(reply, EncodeLogFileAttrib(model.LogAttrib()));
      return true;
    case kMsgSetLogHistoryToFile: {
      VelLogFileAttrib attrib;
      if (DecodeLogFileAttrib(DataAt(req, 0), &attrib)) model.SetLogAttrib(attrib);
      return true;
    }
    case kMsgGetGrabType:
      reply->Add(CLumVariant(model.GrabType()));
      return true;
    case kMsgIsChangeSolutionEnabled:
      reply->Add(CLumVariant(model.ChangeSolutionEnabled()));
      return true;
    case kMsgEnableChangeSolution:
      model.EnableChangeSolution(static_cast<int>(IntAt(req, 0)));
      reply->Add(CLumVariant(model.ChangeSolutionEnabled()));
      return true;
    case kMsgGetOEMName:
      reply->Add(CLumVariant(CApplianceModel::kOemName));
      reply->Add(CLumVariant(CApplianceModel::kOemFolderName));
      return true;
    case kMsgGetPlcIPAddress: {
      const auto a = model.GetPlcAddress(static_cast<int>(IntAt(req, 0)));
      for (uint32_t part : a.parts) reply->Add(CLumVariant(part));
      reply->Add(CLumVariant(a.text.c_str()));
      return true;
    }
    case kMsgSetPlcIPAddress: {
      CApplianceModel::PlcAddress a;
      for (int i = 0; i < 3; ++i) a.parts[i] = UintAt(req, i + 1);
      const char* text = req.Get(4).GetString(0);
      a.text = text ? text : "";
      model.SetPlcAddress(static_cast<int>(IntAt(req, 0)), a);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool HandleDeviceMessage(CApplianceModel& model, const CLumMsg& request, CLumMsg* reply) {
  return HandleFileMessage(model.Files(), request, reply) ||
         HandleParamMessage(model.Params(), request, reply) ||
         HandleGpioMessage(model.Gpio(), request, reply) ||
         HandleIdentityMessage(model, request, reply);
}
