// Arbitrary bytes as a serialized tree record, read onto a fresh root and onto a small existing
// tree. Whatever a read leaves behind must serialize again, and that record must read back.
// (The trees need not match exactly: a name like "a]]" loses one bracket per reading.)
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vartree/tvar.h"

namespace {

void ReadAndReRead(CtVar& target, const uint8_t* data, size_t size) {
  target.UnSerializeTree(data, static_cast<uint32_t>(size));
  const std::vector<uint8_t> again = target.SerializeTree();
  if (again.size() != target.SerializeTreeSize()) std::abort();
  CtVar copy;
  if (copy.UnSerializeTree(again.data(), static_cast<uint32_t>(again.size())) != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CtVar fresh;
  ReadAndReRead(fresh, data, size);

  CtVar existing;
  existing["AppVar.Index"] = 2.0;
  existing["AppVar.Name"] = "text";
  existing["AppVar.Camera"][1] = 1.5;
  existing["AppVar.Camera"][3].SetFormat("%d");
  existing["AppVar.Camera"][3].AddRef();
  ReadAndReRead(existing["AppVar"], data, size);
  return 0;
}
