// The stand-in appliance library "ZelvinEC.dll": an appliance object with the base class's
// handlers, which is all the connect sequence needs of it.
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
