// The registry of connection classes, keyed by comm role, and the table of live connections.
//
// Each connection class registers itself while the library loads (an OzkAppDestRegistration
// object in its source file); the list is then only read. A role without a registered class
// creates no connection, names none and detects no device.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "dests/dest_rec.h"

class CConnection;
class CtVar;

using OzkCreateAppDestFn = CConnection* (*)();
using OzkConnNameFn = std::wstring (*)(uint32_t role, CtVar* dest);
using OzkDetectDeviceFn = int (*)(uint32_t role);

// One registered class; the records form a list, newest first.
struct f_appd {
  uint32_t role = 0;
  OzkCreateAppDestFn create = nullptr;
  OzkConnNameFn conn_name = nullptr;
  OzkDetectDeviceFn detect = nullptr;
  f_appd* next = nullptr;
};

// Fills record and puts it at the head of the list; 1.
int OzkAddAppDestClass(OzkCreateAppDestFn create, OzkConnNameFn conn_name, OzkDetectDeviceFn detect,
                       uint32_t role, f_appd* record);
// A new connection (reference count 1) of the first class registered for role, or null.
CConnection* OzkCreateAppDest(uint32_t role);
int OzkDetectDevice(uint32_t role);
std::wstring OzkGetConnName(uint32_t role, CtVar* dest);
// Forgets every record.
void OzkCloseAppDestFactory();

// Registers a class for the life of the program.
class OzkAppDestRegistration {
 public:
  OzkAppDestRegistration(uint32_t role, OzkCreateAppDestFn create, OzkConnNameFn conn_name,
                         OzkDetectDeviceFn detect) {
    OzkAddAppDestClass(create, conn_name, detect, role, &record_);
  }

 private:
  f_appd record_;
};

// Live connections of one manager by name. Holds no references of its own: an entry lives as
// long as some slot holds the connection.
class CConnections {
 public:
  CConnection* Find(const std::wstring& name) const;
  void Insert(const std::wstring& name, CConnection* conn);
  void Remove(const std::wstring& name);
  size_t Size() const { return map_.size(); }

 private:
  std::map<std::wstring, CConnection*> map_;
};
