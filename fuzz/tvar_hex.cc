// Arbitrary text read as hexadecimal tree files, twice in a row from one stream, as a reader of a
// text file holding several trees does.
#include <cstdint>
#include <cstdio>

#include "vartree/tvar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  CtVar first, second;
  first["Existing"] = 1.0;
  first.ReadFile(f, OZK_TVAR_FILE_HEX);
  second.ReadFile(f, OZK_TVAR_FILE_HEX);
  std::fclose(f);
  return 0;
}
