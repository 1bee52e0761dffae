// The remote-call stubs: one function per server function, each calling the server function of
// its own name with the slot count, return kind and buffers of the original interface, and
// returning the result converted to its own type (0 when the call could not be made).
// Capacities and sizes given as arguments size their buffers; fixed-size records are the
// server's (find data 592 bytes, application attributes 150, I/O configuration 20, and so on).
#pragma once

#include <cstdint>

class CVelRpc;

double ClosestArgSupported(CVelRpc* rpc, int param, double value);
int DeleteAppDest(CVelRpc* rpc, const char* name, int flags);
int DirectoryCreate(CVelRpc* rpc, const char* path);
int DirectoryRemove(CVelRpc* rpc, const char* path);
int FileRemove(CVelRpc* rpc, const char* path);
int ReadParamFile(CVelRpc* rpc, const char* path);
int WriteParamFile(CVelRpc* rpc, const char* path);
int SetDeviceName(CVelRpc* rpc, const char* name);
int FileClose(CVelRpc* rpc, int file);
int FileFindClose(CVelRpc* rpc, int find);
constexpr uint32_t kFindDataSize = 592;
int FileFindFirst(CVelRpc* rpc, const char* pattern, void* find_data);
int FileFindNext(CVelRpc* rpc, int find, void* find_data);
int FileMove(CVelRpc* rpc, const char* from, const char* to);
int FileOpen(CVelRpc* rpc, const char* path, const char* mode);
int FileRead(CVelRpc* rpc, void* buffer, uint32_t size, int file);
int FileWrite(CVelRpc* rpc, const void* buffer, uint32_t size, int file);
int FileSeek(CVelRpc* rpc, int file, int32_t offset, int origin);
int FlushRegistery(CVelRpc* rpc, int root);
// ids: count 32-bit values; values: count doubles.
int GetAllParams(CVelRpc* rpc, int32_t* ids, double* values, int count);
constexpr uint32_t kAppAttributesSize = 150;
int GetAppAttributes(CVelRpc* rpc, void* attributes);
int GetArgName(CVelRpc* rpc, int param, int arg, int capacity, char* name);
double GetArgValue(CVelRpc* rpc, int param, const char* arg_name);
int GetCommPortNum(CVelRpc* rpc, int port, int flags);
// capacity in: the buffer's size; out: as the server sets it.
int GetDeviceIPAddress(CVelRpc* rpc, char* buffer, uint32_t* capacity);
int GetDeviceName(CVelRpc* rpc, char* buffer, uint32_t* capacity);
int GetDevicePhysicalAddress(CVelRpc* rpc, char* buffer, uint32_t* capacity);
int GetDeviceSerialNo(CVelRpc* rpc, char* buffer, uint32_t* capacity);
constexpr uint32_t kEnumArgSize = 56;
int GetFirstEnumArg(CVelRpc* rpc, int param, void* arg);
int GetNextEnumArg(CVelRpc* rpc, int param, void* arg);
int GetFirstParam(CVelRpc* rpc, int group, int flags);
int GetNextParam(CVelRpc* rpc, int group, int param, int flags);
int IsArgSupported(CVelRpc* rpc, int param, int arg, int flags);
int JaiA11SendCameraData(CVelRpc* rpc, int camera, int address, int value);
int GetFirstParamGroup(CVelRpc* rpc, int flags);
int GetNextParamGroup(CVelRpc* rpc, int group);
int GetParentGroup(CVelRpc* rpc, int group);
int ParamSupported(CVelRpc* rpc, int param);
int JaiA11ExitComm(CVelRpc* rpc, int camera);
int JaiA11InitComm(CVelRpc* rpc, int camera);
int SetHwSolutionIDNumBits(CVelRpc* rpc, int bits);
constexpr uint32_t kIoConfigSize = 20;
int GetGPIConfig(CVelRpc* rpc, int index, void* config);
int GetGPOConfig(CVelRpc* rpc, int index, void* config);
int SetGPIConfig(CVelRpc* rpc, int index, void* config);
int SetGPOConfig(CVelRpc* rpc, int index, void* config);
constexpr uint32_t kGpioAttrSize = 1948;
int GetGpioAttr(CVelRpc* rpc, void* attributes);
constexpr uint32_t kGroupPropertiesSize = 200;
void GetGroupProperties(CVelRpc* rpc, int group, void* properties);
double GetParam(CVelRpc* rpc, int group, int param);
double GetParamByName(CVelRpc* rpc, const char* name, int flags);
constexpr uint32_t kParamCapsSize = 664;
void GetParamCaps(CVelRpc* rpc, int param, void* caps);
int GetServerVersion(CVelRpc* rpc);
int IsEmulatorMode(CVelRpc* rpc);
int JaiA11GetCameraData(CVelRpc* rpc, int camera, int address, uint32_t* value);
// value_size in: the capacity of value; out: the size the server reports.
int ReadRegistery(CVelRpc* rpc, int root, const char* key, const char* value_name, uint32_t* type,
                  void* value, uint32_t* value_size);
void RestartDevice(CVelRpc* rpc);
void SetParam(CVelRpc* rpc, int group, int param, double value);
int SetWindowGen(CVelRpc* rpc, int x, int y, int width, int height);
int WriteRegistery(CVelRpc* rpc, int root, const char* key, const char* value_name, uint32_t type,
                   const void* value, uint32_t value_size);
// The server's pass, recycle and reject counters (flag: 1 byte in and out).
int tVarReadCountsRmtO(CVelRpc* rpc, uint8_t* flag, uint32_t* first, uint32_t* second);
