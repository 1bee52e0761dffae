#include "link/rpc_stubs.h"

#include "link/rpc_call.h"

namespace {

int TextCall(CVelRpc* rpc, const char* function, const char* text) {
  return RpcCall(function, 2).Text(text).InvokeInt(rpc);
}

int IntCall(CVelRpc* rpc, const char* function, uint32_t slots, int a, int b = 0, int c = 0,
            int d = 0) {
  RpcCall call(function, slots);
  const int args[] = {a, b, c, d};
  for (uint32_t i = 1; i < slots; ++i) call.Int(args[i - 1]);
  return call.InvokeInt(rpc);
}

int DeviceText(CVelRpc* rpc, const char* function, char* buffer, uint32_t* capacity) {
  if (!capacity) return 0;
  return RpcCall(function, 3)
      .Buffer(buffer, *capacity, kRpcOut)
      .Buffer(capacity, sizeof *capacity, kRpcBoth)
      .InvokeInt(rpc);
}

int Record(CVelRpc* rpc, const char* function, int index, void* record, uint32_t size) {
  return RpcCall(function, 3).Int(index).Buffer(record, size, kRpcBoth).InvokeInt(rpc);
}

}  // namespace

double ClosestArgSupported(CVelRpc* rpc, int param, double value) {
  return RpcCall("ClosestArgSupported", 4, kRpcReturnDouble).Int(param).Double(value).Invoke(rpc);
}

int DeleteAppDest(CVelRpc* rpc, const char* name, int flags) {
  return RpcCall("DeleteAppDest", 3).Text(name).Int(flags).InvokeInt(rpc);
}

int DirectoryCreate(CVelRpc* rpc, const char* path) {
  return TextCall(rpc, "DirectoryCreate", path);
}
int DirectoryRemove(CVelRpc* rpc, const char* path) {
  return TextCall(rpc, "DirectoryRemove", path);
}
int FileRemove(CVelRpc* rpc, const char* path) {
  return TextCall(rpc, "FileRemove", path);
}
int ReadParamFile(CVelRpc* rpc, const char* path) {
  return TextCall(rpc, "ReadParamFile", path);
}
int WriteParamFile(CVelRpc* rpc, const char* path) {
  return TextCall(rpc, "WriteParamFile", path);
}
int SetDeviceName(CVelRpc* rpc, const char* name) {
  return TextCall(rpc, "SetDeviceName", name);
}
int FileClose(CVelRpc* rpc, int file) {
  return IntCall(rpc, "FileClose", 2, file);
}
int FileFindClose(CVelRpc* rpc, int find) {
  return IntCall(rpc, "FileFindClose", 2, find);
}

int FileFindFirst(CVelRpc* rpc, const char* pattern, void* find_data) {
  return RpcCall("FileFindFirst", 3)
      .Text(pattern)
      .Buffer(find_data, kFindDataSize, kRpcOut)
      .InvokeInt(rpc);
}

int FileFindNext(CVelRpc* rpc, int find, void* find_data) {
  return RpcCall("FileFindNext", 3)
      .Int(find)
      .Buffer(find_data, kFindDataSize, kRpcOut)
      .InvokeInt(rpc);
}

int FileMove(CVelRpc* rpc, const char* from, const char* to) {
  return RpcCall("FileMove", 3).Text(from).Text(to).InvokeInt(rpc);
}

int FileOpen(CVelRpc* rpc, const char* path, const char* mode) {
  return RpcCall("FileOpen", 3).Text(path).Text(mode).InvokeInt(rpc);
}

int FileRead(CVelRpc* rpc, void* buffer, uint32_t size, int file) {
  return RpcCall("FileRead", 4).Buffer(buffer, size, kRpcOut).Int(size).Int(file).InvokeInt(rpc);
}

int FileWrite(CVelRpc* rpc, const void* buffer, uint32_t size, int file) {
  return RpcCall("FileWrite", 4).Buffer(buffer, size, kRpcIn).Int(size).Int(file).InvokeInt(rpc);
}

int FileSeek(CVelRpc* rpc, int file, int32_t offset, int origin) {
  return IntCall(rpc, "FileSeek", 4, file, offset, origin);
}

int FlushRegistery(CVelRpc* rpc, int root) {
  return IntCall(rpc, "FlushRegistery", 2, root);
}

int GetAllParams(CVelRpc* rpc, int32_t* ids, double* values, int count) {
  if (count < 0) return 0;
  const uint32_t n = static_cast<uint32_t>(count);
  return RpcCall("GetAllParams", 4)
      .Buffer(ids, n * 4, kRpcOut)
      .Buffer(values, n * 8, kRpcOut)
      .Int(count)
      .InvokeInt(rpc);
}

int GetAppAttributes(CVelRpc* rpc, void* attributes) {
  return RpcCall("GetAppAttributes", 2)
      .Buffer(attributes, kAppAttributesSize, kRpcBoth)
      .InvokeInt(rpc);
}

int GetArgName(CVelRpc* rpc, int param, int arg, int capacity, char* name) {
  if (capacity < 0) return 0;
  return RpcCall("GetArgName", 5)
      .Int(param)
      .Int(arg)
      .Int(capacity)
      .Buffer(name, static_cast<uint32_t>(capacity), kRpcOut)
      .InvokeInt(rpc);
}

double GetArgValue(CVelRpc* rpc, int param, const char* arg_name) {
  return RpcCall("GetArgValue", 3, kRpcReturnDouble).Int(param).Text(arg_name).Invoke(rpc);
}

int GetCommPortNum(CVelRpc* rpc, int port, int flags) {
  return IntCall(rpc, "GetCommPortNum", 3, port, flags);
}

int GetDeviceIPAddress(CVelRpc* rpc, char* buffer, uint32_t* capacity) {
  return DeviceText(rpc, "GetDeviceIPAddress", buffer, capacity);
}
int GetDeviceName(CVelRpc* rpc, char* buffer, uint32_t* capacity) {
  return DeviceText(rpc, "GetDeviceName", buffer, capacity);
}
int GetDevicePhysicalAddress(CVelRpc* rpc, char* buffer, uint32_t* capacity) {
  return DeviceText(rpc, "GetDevicePhysicalAddress", buffer, capacity);
}
int GetDeviceSerialNo(CVelRpc* rpc, char* buffer, uint32_t* capacity) {
  return DeviceText(rpc, "GetDeviceSerialNo", buffer, capacity);
}

int GetFirstEnumArg(CVelRpc* rpc, int param, void* arg) {
  return Record(rpc, "GetFirstEnumArg", param, arg, kEnumArgSize);
}
int GetNextEnumArg(CVelRpc* rpc, int param, void* arg) {
  return Record(rpc, "GetNextEnumArg", param, arg, kEnumArgSize);
}

int GetFirstParam(CVelRpc* rpc, int group, int flags) {
  return IntCall(rpc, "GetFirstParam", 3, group, flags);
}
int GetNextParam(CVelRpc* rpc, int group, int param, int flags) {
  return IntCall(rpc, "GetNextParam", 4, group, param, flags);
}
int IsArgSupported(CVelRpc* rpc, int param, int arg, int flags) {
  return IntCall(rpc, "IsArgSupported", 4, param, arg, flags);
}
int JaiA11SendCameraData(CVelRpc* rpc, int camera, int address, int value) {
  return IntCall(rpc, "JaiA11SendCameraData", 4, camera, address, value);
}
int GetFirstParamGroup(CVelRpc* rpc, int flags) {
  return IntCall(rpc, "GetFirstParamGroup", 2, flags);
}
int GetNextParamGroup(CVelRpc* rpc, int group) {
  return IntCall(rpc, "GetNextParamGroup", 2, group);
}
int GetParentGroup(CVelRpc* rpc, int group) {
  return IntCall(rpc, "GetParentGroup", 2, group);
}
int ParamSupported(CVelRpc* rpc, int param) {
  return IntCall(rpc, "ParamSupported", 2, param);
}
int JaiA11ExitComm(CVelRpc* rpc, int camera) {
  return IntCall(rpc, "JaiA11ExitComm", 2, camera);
}
int JaiA11InitComm(CVelRpc* rpc, int camera) {
  return IntCall(rpc, "JaiA11InitComm", 2, camera);
}
int SetHwSolutionIDNumBits(CVelRpc* rpc, int bits) {
  return IntCall(rpc, "SetHwSolutionIDNumBits", 2, bits);
}

int GetGPIConfig(CVelRpc* rpc, int index, void* config) {
  return Record(rpc, "GetGPIConfig", index, config, kIoConfigSize);
}
int GetGPOConfig(CVelRpc* rpc, int index, void* config) {
  return Record(rpc, "GetGPOConfig", index, config, kIoConfigSize);
}
int SetGPIConfig(CVelRpc* rpc, int index, void* config) {
  return Record(rpc, "SetGPIConfig", index, config, kIoConfigSize);
}
int SetGPOConfig(CVelRpc* rpc, int index, void* config) {
  return Record(rpc, "SetGPOConfig", index, config, kIoConfigSize);
}

int GetGpioAttr(CVelRpc* rpc, void* attributes) {
  return RpcCall("GetGpioAttr", 2).Buffer(attributes, kGpioAttrSize, kRpcBoth).InvokeInt(rpc);
}

void GetGroupProperties(CVelRpc* rpc, int group, void* properties) {
  Record(rpc, "GetGroupProperties", group, properties, kGroupPropertiesSize);
}

double GetParam(CVelRpc* rpc, int group, int param) {
  return RpcCall("GetParam", 3, kRpcReturnDouble).Int(group).Int(param).Invoke(rpc);
}

double GetParamByName(CVelRpc* rpc, const char* name, int flags) {
  return RpcCall("GetParamByName", 3, kRpcReturnDouble).Text(name).Int(flags).Invoke(rpc);
}

void GetParamCaps(CVelRpc* rpc, int param, void* caps) {
  Record(rpc, "GetParamCaps", param, caps, kParamCapsSize);
}

int GetServerVersion(CVelRpc* rpc) {
  return RpcCall("GetServerVersion", 1).InvokeInt(rpc);
}
int IsEmulatorMode(CVelRpc* rpc) {
  return RpcCall("IsEmulatorMode", 1).InvokeInt(rpc);
}

int JaiA11GetCameraData(CVelRpc* rpc, int camera, int address, uint32_t* value) {
  return RpcCall("JaiA11GetCameraData", 4)
      .Int(camera)
      .Int(address)
      .Buffer(value, sizeof *value, kRpcOut)
      .InvokeInt(rpc);
}

int ReadRegistery(CVelRpc* rpc, int root, const char* key, const char* value_name, uint32_t* type,
                  void* value, uint32_t* value_size) {
  if (!value_size) return 0;
  return RpcCall("ReadRegistery", 7)
      .Int(root)
      .Text(key)
      .Text(value_name)
      .Buffer(type, sizeof *type, kRpcOut)
      .Buffer(value, *value_size, kRpcOut)
      .Buffer(value_size, sizeof *value_size, kRpcBoth)
      .InvokeInt(rpc);
}

void RestartDevice(CVelRpc* rpc) {
  RpcCall("RestartDevice", 1).Invoke(rpc);
}

void SetParam(CVelRpc* rpc, int group, int param, double value) {
  RpcCall("SetParam", 5).Int(group).Int(param).Double(value).Invoke(rpc);
}

int SetWindowGen(CVelRpc* rpc, int x, int y, int width, int height) {
  return IntCall(rpc, "SetWindowGen", 5, x, y, width, height);
}

int WriteRegistery(CVelRpc* rpc, int root, const char* key, const char* value_name, uint32_t type,
                   const void* value, uint32_t value_size) {
  return RpcCall("WriteRegistery", 7)
      .Int(root)
      .Text(key)
      .Text(value_name)
      .Int(type)
      .Buffer(value, value_size, kRpcIn)
      .Int(value_size)
      .InvokeInt(rpc);
}

int tVarReadCountsRmtO(CVelRpc* rpc, uint8_t* flag, uint32_t* first, uint32_t* second) {
  return RpcCall("tVarReadCounts", 4)
      .Buffer(flag, 1, kRpcBoth)
      .Buffer(first, 4, kRpcOut)
      .Buffer(second, 4, kRpcOut)
      .InvokeInt(rpc);
}
