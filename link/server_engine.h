// The entry points of the in-process server engine library ("VelSrvEngine.dll", loaded as
// libVelSrvEngine.so), looked up by name. The engine answers messages on the caller's thread
// and shares its variable tree and tree lock with the client for as long as it lives.
#pragma once

#include <cstdint>

class CLumMsg;
class CtVar;
class XTVarDests;
namespace port {
class RecursiveMutex;
}

extern "C" {
using OzkServerEngineCreateFn = void* (*)(void* reserved, void* client);
using OzkServerEngineOnNetMessageFn = int (*)(void* engine, uint32_t client_id, CLumMsg* request,
                                              CLumMsg* reply);
using OzkServerEngineGetRootTVarFn = CtVar* (*)(void* engine);
using OzkServerEngineGetTVarCriticalSectionFn = port::RecursiveMutex* (*)(void* engine);
using OzkServerEngineGetAppDestFn = XTVarDests* (*)(void* engine);
using OzkServerEngineDeleteFn = void (*)(void* engine);
// The stream operations of the in-process client (CNetClientNode's, with the engine first).
using OzkServerEngineSendStreamStartFn = int (*)(void* engine, int id, long total, int flag);
using OzkServerEngineResponseStreamStartFn = int (*)(void* engine, int* length);
using OzkServerEngineStreamWriteFn = int (*)(void* engine, int length, unsigned char* data);
using OzkServerEngineStreamReadFn = int (*)(void* engine, int length, unsigned char* buffer);
using OzkServerEngineStreamEndFn = int (*)(void* engine);
}

inline constexpr char kServerEngineLibrary[] = "VelSrvEngine.dll";
// The client id the in-process client uses: -2 as an unsigned 32-bit value.
constexpr uint32_t kLoopbackClientId = 0xFFFFFFFE;
