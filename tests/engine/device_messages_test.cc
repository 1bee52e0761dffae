// The device services of the client against the engine's answers, every exchange passing
// through the wire encoding as it would on a connection.
#include "engine/device_messages.h"

#include <gtest/gtest.h>

#include "link/device_message_ids.h"
#include "link/device_services.h"
#include "netmsg/lum_wire.h"
#include "tests/common/temp_dir.h"

namespace {

CLumMsg OverTheWire(const CLumMsg& msg) {
  std::string bytes;
  EncodeLumMsg(msg, &bytes);
  CLumMsg out;
  EXPECT_TRUE(DecodeLumMsg(bytes, &out));
  return out;
}

class LoopClient : public CDeviceServices {
 public:
  explicit LoopClient(CApplianceModel* model) : model_(model) {}
  int SendNetMessage(CLumMsg* request, CLumMsg* reply) override {
    ++sent;
    CLumMsg answer;
    if (!HandleDeviceMessage(*model_, OverTheWire(*request), &answer)) return 10004;
    if (reply) *reply = OverTheWire(answer);
    return 0;
  }
  int sent = 0;

 private:
  CApplianceModel* model_;
};

class DeviceMessagesTest : public ::testing::Test {
 protected:
  TempDir tmp_{"vel_devmsg"};
  const std::string& dir_ = tmp_.path();
  std::unique_ptr<CApplianceModel> model_ = std::make_unique<CApplianceModel>(dir_ + "/device");
  std::unique_ptr<LoopClient> client_ = std::make_unique<LoopClient>(model_.get());
};

TEST_F(DeviceMessagesTest, FileOperationsRoundTrip) {
  ASSERT_EQ(client_->DirectoryCreate(L"\\Storage Card"), 0);  // a fresh device has it
  const uint64_t h = client_->FileOpen("\\Storage Card\\a.bin", "wb");
  ASSERT_NE(h, 0u);
  const std::vector<uint8_t> bytes = {9, 8, 7, 6, 5};
  EXPECT_EQ(client_->FileWrite(bytes, h), 5u);
  EXPECT_EQ(client_->FileClose(h), 1);

  const uint64_t r = client_->FileOpen(L"\\Storage Card\\a.bin", L"rb");
  ASSERT_NE(r, 0u);
  EXPECT_EQ(client_->FileSeek(r, 2, 0), 1);
  std::vector<uint8_t> buffer(10, 0xEE);
  EXPECT_EQ(client_->FileRead(buffer, r), 3u);
  EXPECT_EQ(buffer[0], 7);
  EXPECT_EQ(buffer[3], 0xEE);  // nothing beyond what was read
  EXPECT_EQ(client_->FileClose(r), 1);

  VelFindData d;
  const int32_t f = client_->FileFindFirst("\\Storage Card\\*.bin", &d);
  ASSERT_NE(f, -1);
  EXPECT_EQ(d.name, L"a.bin");
  EXPECT_EQ(d.size, 5u);
  EXPECT_EQ(client_->FileFindNext(f, &d), 0);
  EXPECT_EQ(client_->FileFindClose(f), 1);

  EXPECT_EQ(client_->FileMove(L"\\Storage Card\\a.bin", L"\\b.bin"), 1);
  EXPECT_EQ(client_->FileRemove(L"\\b.bin"), 1);
  EXPECT_EQ(client_->DirectoryRemove(L"\\Storage Card"), 1);
}

TEST_F(DeviceMessagesTest, EmptyPathsFailWithoutSending) {
  VelFindData d;
  EXPECT_EQ(client_->FileFindFirst(L"", &d), -1);
  EXPECT_EQ(client_->FileFindFirst(static_cast<const char*>(nullptr), &d), -1);
  EXPECT_EQ(client_->FileOpen(L"", L"rb"), 0u);
  EXPECT_EQ(client_->FileOpen(L"\\x", L""), 0u);
  EXPECT_EQ(client_->FileRemove(L""), 0);
  EXPECT_EQ(client_->FileMove(L"", L"\\a"), 0);
  EXPECT_EQ(client_->DirectoryCreate(L""), 0);
  EXPECT_EQ(client_->DirectoryRemove(L""), 0);
  EXPECT_EQ(client_->sent, 0);
}

TEST_F(DeviceMessagesTest, ParamsAttributesAndGpio) {
  VelAppAttributes attr;
  ASSERT_EQ(client_->GetAppAttributes(&attr), 1);
  EXPECT_EQ(attr.library, "ZelvinEC.dll");

  EXPECT_EQ(client_->GetParam(1), 2000);
  EXPECT_EQ(client_->SetParam(1, 3000), 1);
  EXPECT_EQ(client_->GetParam(1), 3000);
  EXPECT_EQ(client_->GetAllParams(), 7);
  model_->Params().Set(1, 4000, 0);  // changed on the device behind the cache
  EXPECT_EQ(client_->GetParam(1, 0, true), 3000);
  EXPECT_EQ(client_->GetParam(1, 0, false), 4000);
  EXPECT_EQ(client_->SetParam(1, 5000), 1);
  EXPECT_EQ(client_->GetParam(1, 0, true), 5000);  // a set drops the cached value

  VelParamCaps caps;
  ASSERT_EQ(client_->GetParamCaps(3, &caps), 1);
  EXPECT_EQ(caps.name, "TriggerMode");
  EXPECT_EQ(client_->GetParamCaps(77, &caps), 0);

  VelGpioAttributes gpio;
  ASSERT_EQ(client_->GetGpioAttr(&gpio), 1);
  EXPECT_EQ(gpio.num_inputs, 8u);
  VelGpioConfig config{2, 1, 1, 30, 0};
  EXPECT_EQ(client_->SetGPOConfig(2, config), 1);
  ASSERT_EQ(client_->GetGPOConfig(2, &config), 1);
  EXPECT_EQ(config.debounce_ms, 30u);
  EXPECT_EQ(client_->GetGPIConfig(99, &config), 0);
  model_->Gpio().SetInputBits(0x5);
  EXPECT_EQ(client_->GetGPInputValue(), 0x5u);
  EXPECT_EQ(client_->SetOutputPort(0x6, 1), 0x6u);

  client_->WriteReg(0x40, 1234);
  EXPECT_EQ(client_->ReadReg(0x40), 1234u);
  EXPECT_EQ(client_->GetNumOfCameras(), 1);
  EXPECT_EQ(client_->GetMaxNumberOfSolutions(), 100);
}

TEST_F(DeviceMessagesTest, IdentityPortsAndNetworkSettings) {
  EXPECT_EQ(client_->GetTemperature(0), 41.5);
  EXPECT_EQ(client_->GetAppFeatureMask(), 7u);
  EXPECT_EQ(client_->GetHardwareRevision(), 3u);
  EXPECT_EQ(client_->GetVirtualAsyncEnable(), 0);

  client_->SetTrigScaler(1, 5);
  client_->SetTrigScaler(2, 9);
  EXPECT_EQ(client_->GetTrigScaler(1), 5u);
  EXPECT_EQ(client_->GetTrigScaler(2), 9u);
  EXPECT_EQ(client_->GetTrigScaler(3), 0u);
  client_->WriteProductID(0xC0FFEE);
  EXPECT_EQ(client_->ReadProductID(), 0xC0FFEEu);
  EXPECT_EQ(client_->ReadReg(0x20), 0u);  // the product id keeps out of the register range

  const std::string line = "READ 12\r";
  client_->PutPortString(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
  EXPECT_EQ(client_->GetPortString(4, 0), "READ");
  EXPECT_EQ(client_->GetPortString(100, 0), " 12\r");
  EXPECT_EQ(client_->GetPortString(100, 0), "");
  const int sent = client_->sent;
  EXPECT_EQ(client_->GetPortString(0, 0), "");
  EXPECT_EQ(client_->sent, sent);  // nothing asked, nothing sent

  CDeviceServices::PlcAddress plc;
  plc.parts[0] = 0xC0A80114;
  plc.parts[1] = 0xFFFFFF00;
  plc.parts[2] = 44818;
  plc.text = "press-3";
  client_->SetPlcIPAddress(4, plc);
  client_->SetPlcIPAddress(21, plc);  // not a comm role
  CDeviceServices::PlcAddress got;
  ASSERT_EQ(client_->GetPlcIPAddress(4, &got), 1);
  EXPECT_EQ(got.parts[0], 0xC0A80114u);
  EXPECT_EQ(got.parts[2], 44818u);
  EXPECT_EQ(got.text, "press-3");
  ASSERT_EQ(client_->GetPlcIPAddress(21, &got), 1);
  EXPECT_EQ(got.parts[0], 0u);
  EXPECT_EQ(got.text, "");

  const uint8_t mac[] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
  client_->SetMACAddress(mac);
  EXPECT_EQ(model_->MacAddressText(), "02-00-5E-10-20-30");
  client_->SetMACAddress(std::span(mac, 5));  // not an address
  EXPECT_EQ(model_->MacAddressText(), "02-00-5E-10-20-30");

  const uint8_t bitstream[] = {0xFF, 0x00, 0xAA};
  EXPECT_EQ(client_->WriteFPGAFile(bitstream), 1);
  EXPECT_EQ(client_->WriteFPGAFile({}), 0);
  client_->SetUDPMode(2, 5100);
  EXPECT_EQ(model_->GetUdpMode().mode, 2);
  EXPECT_EQ(model_->GetUdpMode().port, 5100u);
}

TEST_F(DeviceMessagesTest, GrabTypeSolutionChangePermissionAndOemNames) {
  EXPECT_EQ(client_->GetGrabType(), 8);
  model_->SetGrabType(9);
  EXPECT_EQ(client_->GetGrabType(), 9);
  EXPECT_EQ(client_->IsChangeSolutionEnabled(), 1);
  EXPECT_EQ(client_->EnableChangeSolution(0), 0);
  EXPECT_EQ(client_->IsChangeSolutionEnabled(), 0);
  EXPECT_EQ(client_->EnableChangeSolution(7), 1);  // any non-zero flag allows
  EXPECT_EQ(model_->ChangeSolutionEnabled(), 1);
  // The history settings are kept whole; a record of the wrong size is ignored.
  VelLogFileAttrib attrib;
  attrib.to_file = 1;
  attrib.prefix = L"Shift2_";
  CLumMsg set(kMsgSetLogHistoryToFile), reply;
  const auto record = EncodeLogFileAttrib(attrib);
  set.Add(CLumVariant(record.data(), static_cast<long>(record.size()), true));
  ASSERT_TRUE(HandleDeviceMessage(*model_, OverTheWire(set), &reply));
  CLumMsg short_set(kMsgSetLogHistoryToFile);
  short_set.Add(CLumVariant(record.data(), 100, true));
  ASSERT_TRUE(HandleDeviceMessage(*model_, OverTheWire(short_set), &reply));
  EXPECT_EQ(model_->LogAttrib().to_file, 1);
  EXPECT_EQ(model_->LogAttrib().prefix, L"Shift2_");

  std::wstring name, folder;
  ASSERT_EQ(client_->GetOEMName(&name, &folder), 1);
  EXPECT_EQ(name, L"Parvane Korin");
  EXPECT_EQ(folder, L"Zelvin");
  EXPECT_EQ(client_->GetOEMName(nullptr, &folder), 0);
}

TEST_F(DeviceMessagesTest, MalformedRequestsAreAnsweredWithFailure) {
  const int32_t ids[] = {kMsgFileFindFirst,   kMsgFileFindNext,    kMsgFileFindClose,
                         kMsgFileOpen,        kMsgFileSeek,        kMsgFileWrite,
                         kMsgFileRead,        kMsgFileClose,       kMsgFileRemove,
                         kMsgFileMove,        kMsgDirectoryCreate, kMsgDirectoryRemove,
                         kMsgGetParam,        kMsgSetParam,        kMsgGetParamCaps,
                         kMsgSetGPIConfig,    kMsgGetGPOConfig,    kMsgGetPortString,
                         kMsgSetPlcIPAddress, kMsgSetMACAddress,   kMsgSetUDPMode};
  const CLumVariant junk[] = {CLumVariant(), CLumVariant("text"), CLumVariant(-1),
                              CLumVariant("\xff\xfe", 2, true), CLumVariant(1e300)};
  for (int32_t id : ids) {
    for (const auto& v : junk) {
      CLumMsg req(id);
      req.Add(v);
      req.Add(v);
      CLumMsg reply;
      EXPECT_TRUE(HandleDeviceMessage(*model_, req, &reply)) << id;
      if (reply.Size() > 0 && id != kMsgGetParam && id != kMsgGetPortString) {
        EXPECT_LE(reply.Get(0).GetDouble(0), 0) << id;  // 0, or -1 for a find handle
      }
    }
  }
  CLumMsg write(kMsgFileWrite);
  write.Add(CLumVariant("abc", 3, true));
  write.Add(CLumVariant(1000000L));  // a length beyond the data is cut to the data
  write.Add(CLumVariant(static_cast<long long>(client_->FileOpen(L"\\w", L"wb"))));
  CLumMsg reply;
  ASSERT_TRUE(HandleDeviceMessage(*model_, write, &reply));
  EXPECT_EQ(reply.Get(0).GetLongLong(0), 3);
  CLumMsg other(12345);
  EXPECT_FALSE(HandleDeviceMessage(*model_, other, &reply));
}

}  // namespace
