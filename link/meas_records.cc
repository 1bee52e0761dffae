#include "link/meas_records.h"

#include <iterator>

const char* MeasToolTypeName(int code) {
  static constexpr const char* kNames[] = {
      "",       "Edge",      "",        "",          "",        "",      "Ruler",
      "Angle",  "Circle",    "Point",   "Intensity", "Circles", "Count", "Count",
      "Pencil", "Barcode",   "Surface", "Arc",       "Match",   "Rake",  "Tip",
      "Thread", "Barcode2D", "Qrcode",  "Ocr",       "PDF417",
  };
  static_assert(std::size(kNames) == 26);
  return code >= 0 && code < static_cast<int>(std::size(kNames)) ? kNames[code] : "";
}
