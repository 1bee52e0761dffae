// CVelAppliance: the client's extension point for one kind of appliance. The appliance library
// named by the application attributes exports "CreateApplianceObject" (client) returning an
// object of a class derived from this one; the client forwards the server's notifications and
// its connection events to it. Every handler of the base does nothing.
#pragma once

#include <cstdint>

class CLumMsg;
class CVelAppClient;

class CVelAppliance {
 public:
  explicit CVelAppliance(CVelAppClient* client) : client_(client) {}
  virtual ~CVelAppliance() = default;

  virtual int Initialize() { return 0; }
  // Server requests the client does not handle itself.
  virtual int OnNetMessage(CLumMsg* request, CLumMsg* reply) { return 0; }
  virtual intptr_t OnWndMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) { return 0; }
  virtual int OnRcvStreamStart(int id, int length) { return 0; }
  virtual void OnDisconnect(int reason) {}
  virtual void OnServerConnected() {}
  virtual void OnCameraChanged(int camera) {}
  virtual void OnChangeNumOfCameras(int count) {}

  CVelAppClient* GetAppClient() const { return client_; }
  void SetClosingFlag(int closing) { closing_ = closing; }
  int IsClosing() const { return closing_; }

 private:
  CVelAppClient* client_;
  int closing_ = 0;
};

extern "C" {
using CreateApplianceObjectFn = CVelAppliance* (*)(CVelAppClient* client);
// The product version text of an appliance library ("1.8.0.0"), the stand-in of its file
// version resource.
using VelProductVersionFn = const char* (*)();
}
