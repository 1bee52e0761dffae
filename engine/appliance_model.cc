#include "engine/appliance_model.h"

#include "link/versions.h"

CApplianceModel::CApplianceModel(const std::string& root)
    : files_(root + "/files"),
      registry_(root + "/registry.txt"),
      gpio_(8, 8, 1),
      attr_{"ZelvinEC.dll", "Inspection", "1.0", "Zelvin EC", "Zelvin"},
      server_version_(ClientVersion()) {
  params_.AddStandardSet();
}

VelAppAttributes CApplianceModel::Attributes() const {
  std::lock_guard lock(attr_mu_);
  return attr_;
}

void CApplianceModel::SetAttributes(const VelAppAttributes& attr) {
  std::lock_guard lock(attr_mu_);
  attr_ = attr;
}
