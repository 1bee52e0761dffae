#include "dests/dest_rec.h"

#include <cmath>
#include <cstring>

#include "vartree/tvar.h"

double DestKeyNumber(CtVar* dest, const char* key) {
  CtVar* node = dest ? dest->GetChild(key) : nullptr;
  if (!node || node == dest) return 0;
  const double v = static_cast<double>(*node);
  return std::isfinite(v) ? v : 0;
}

std::string DestKeyText(CtVar* dest, const char* key) {
  CtVar* node = dest ? dest->GetChild(key) : nullptr;
  if (!node || node == dest || node->GetStoredType() != OZK_TVAR_STRING) return std::string();
  uint32_t size = 0;
  const char* text = reinterpret_cast<const char*>(node->GetData(&size));
  return text ? std::string(text, strnlen(text, size)) : std::string();
}

uint32_t DestKeyU32(CtVar* dest, const char* key) {
  // Tree values are untrusted: anything outside 32 bits wraps as the stored integer would.
  const double v = DestKeyNumber(dest, key);
  if (v <= -2147483648.0 || v >= 4294967296.0) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(v));
}
