// The appliance's parameters: numbered settings with a name, a capability record, optional
// enumeration arguments, a group, and one value per index (index 0 is the appliance itself,
// higher indexes its cameras). Ids and group ids are positive; 0 answers "none".
//
// A value outside a range parameter's limits, or one that is not an argument of an enumerated
// parameter, is refused. Values persist in a parameter file (an INI file, section "Params",
// key "<id>" or "<id>.<index>").
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/device_records.h"

class CDeviceParams {
 public:
  static constexpr uint32_t kMaxIndex = 8;

  struct Param {
    VelParamCaps caps;  // caps.id, caps.name, caps.group identify it
    std::vector<VelEnumArg> args;
  };

  // Adds the groups and parameters of the simulated appliance.
  void AddStandardSet();

  void AddGroup(const VelGroupProperties& group);
  void AddParam(Param param);

  bool Supported(int32_t id) const;
  // The value at index (the default when never set); 0 for an unknown id or index.
  double Get(int32_t id, uint32_t index) const;
  double GetByName(const std::string& name) const;
  int Set(int32_t id, double value, uint32_t index);
  int GetCaps(int32_t id, VelParamCaps* out) const;
  // Ids and index-0 values of every parameter, in id order.
  void GetAll(std::vector<int32_t>* ids, std::vector<double>* values) const;

  // Parameters of group (0: all), in id order.
  int32_t FirstParam(int32_t group) const;
  int32_t NextParam(int32_t group, int32_t prev) const;

  int32_t FirstGroup() const;
  int32_t NextGroup(int32_t prev) const;
  int32_t ParentGroup(int32_t group) const;
  int GetGroupProperties(int32_t group, VelGroupProperties* out) const;

  int IsArgSupported(int32_t id, double value) const;
  // The supported value nearest to value (an argument, or value clamped to the range).
  double ClosestArgSupported(int32_t id, double value) const;
  int GetArgName(int32_t id, double value, std::string* out) const;
  // The argument's value; 0 when the name is not an argument of id.
  double GetArgValue(int32_t id, const std::string& name) const;
  int FirstEnumArg(int32_t id, VelEnumArg* out) const;
  // The argument after the one whose value is prev.
  int NextEnumArg(int32_t id, double prev, VelEnumArg* out) const;

  int WriteFile(const std::string& path) const;
  // Sets every listed value that is valid; 1 when the file could be read.
  int ReadFile(const std::string& path);

 private:
  const Param* Find(int32_t id) const;
  bool Valid(const Param& p, double value) const;

  mutable std::mutex mu_;
  std::map<int32_t, Param> params_;
  std::map<int32_t, VelGroupProperties> groups_;
  std::map<std::pair<int32_t, uint32_t>, double> values_;
};
