// The stand-in appliance library "ZelvinEC.dll": the base appliance object (its dispatch of the
// server's notifications, handler table and panel handling) is all the connect sequence needs.
#include "app/vel_appliance.h"
#include "link/versions.h"

namespace {

class CZelvinECAppliance : public CVelAppliance {
 public:
  using CVelAppliance::CVelAppliance;
  int Initialize() override { return 1; }
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CVelAppliance* CreateApplianceObject(CVelAppClient* client) {
  return new CZelvinECAppliance(client);
}

__attribute__((visibility("default"))) const char* VelProductVersion() {
  return kVelProductVersion;
}

}  // extern "C"
