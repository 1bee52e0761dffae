#include "engine/calibration.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "link/result_message_ids.h"

namespace {

uint32_t Uint(const CLumMsg& m, int i) {
  return static_cast<uint32_t>(m.Get(i).GetLongLong(0));
}
int32_t Int(const CLumMsg& m, int i) {
  return static_cast<int32_t>(m.Get(i).GetLongLong(0));
}

void AddText(CLumMsg* reply, const std::string& text) {
  reply->Add(CLumVariant(text.data(), static_cast<long>(text.size()) + 1, true));
}

std::string Printf(const char* format, auto... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

}  // namespace

bool CCalibration::Handle(const CLumMsg& request, CLumMsg* reply) {
  std::lock_guard lock(mu_);
  switch (request.GetId()) {
    case kMsgCalStart:
      Start(request, reply);
      return true;
    case kMsgCalFindFlatZone:
      FindFlatZone(request, reply);
      return true;
    case kMsgCalSelectCalPoint:
      SelectPoint(request, reply);
      return true;
    case kMsgCalSaveAllValues:
      SaveAll(reply);
      return true;
    default:
      return false;
  }
}

void CCalibration::Start(const CLumMsg& req, CLumMsg* reply) {
  const uint32_t columns = Uint(req, 0), rows = Uint(req, 1);
  const uint32_t width_mm = Uint(req, 2);
  if (columns == 0 || rows == 0 || columns > kMaxGrid || rows > kMaxGrid || width_mm == 0) {
    reply->Add(CLumVariant(0));
    return;
  }
  const std::string_view name = req.Get(5).GetBytes(0);
  started_ = true;
  name_.assign(name.substr(0, std::min(name.find('\0'), size_t{64})));
  columns_ = columns;
  rows_ = rows;
  // The target spans 600 of the image's 640 pixels.
  mm_per_pixel_ = width_mm / 600.0;
  selected_.clear();
  reply->Add(CLumVariant(1));
  reply->Add(CLumVariant(static_cast<int>(columns * rows)));
  reply->Add(CLumVariant(static_cast<float>(mm_per_pixel_)));
  AddText(reply, name_ + ": started");
  AddText(reply, Printf("grid %u x %u", columns, rows));
}

void CCalibration::FindFlatZone(const CLumMsg& req, CLumMsg* reply) {
  if (!started_) {
    reply->Add(CLumVariant(0));
    return;
  }
  const uint32_t x = Uint(req, 1), y = Uint(req, 2), w = Uint(req, 3), h = Uint(req, 4);
  const uint32_t map_rows = std::min(Uint(req, 5), kMaxMapRows);
  const float tolerance = static_cast<float>(req.Get(8).GetDouble(0));
  reply->Add(CLumVariant(1));
  reply->Add(CLumVariant(static_cast<int>(x + w / 2)));
  reply->Add(CLumVariant(static_cast<int>(y + h / 2)));
  AddText(reply, Printf("flat zone %ux%u at %u,%u within %.3f", w, h, x, y, tolerance));
  std::string map;
  for (uint32_t row = 0; row < map_rows; ++row) {
    map += Printf("row %4u: %.4f %.4f %.4f %.4f\n", row, 1.0, 0.9995, 1.0002, 0.9998);
  }
  AddText(reply, map);
}

void CCalibration::SelectPoint(const CLumMsg& req, CLumMsg* reply) {
  const int32_t column = Int(req, 6), row = Int(req, 7);
  if (!started_ || column < 0 || row < 0 || static_cast<uint32_t>(column) >= columns_ ||
      static_cast<uint32_t>(row) >= rows_) {
    reply->Add(CLumVariant(0));
    return;
  }
  const uint32_t index = static_cast<uint32_t>(row) * columns_ + static_cast<uint32_t>(column);
  selected_.insert(index);
  const double pitch_px = 600.0 / columns_;
  reply->Add(CLumVariant(1));
  reply->Add(CLumVariant(static_cast<int>(index)));
  reply->Add(CLumVariant(static_cast<int>(selected_.size())));
  AddText(reply, Printf("point %u of %u", index + 1, columns_ * rows_));
  AddText(reply, Printf("%.1f,%.1f", 20 + (column + 0.5) * pitch_px, 20 + (row + 0.5) * pitch_px));
}

void CCalibration::SaveAll(CLumMsg* reply) {
  const bool complete = started_ && selected_.size() == static_cast<size_t>(columns_) * rows_;
  if (complete) started_ = false;
  reply->Add(CLumVariant(complete ? 1 : 0));
}
