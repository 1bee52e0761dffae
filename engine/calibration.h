// CCalibration: the simulated appliance's calibration, answering the four calibration requests
// from a small state: started (with a target name and a grid of points), the flat zone found,
// and the points selected so far. The numbers mean what this simulation makes of them:
//   start:       (grid columns, grid rows, target width mm, target height mm, flags; name)
//                -> 1, points in the grid, millimetres per pixel, "<name>: started" and the grid
//                as text;
//   flat zone:   (camera; x, y, width, height, map rows; min level, max level; tolerance;
//                flags; two gains) -> 1, zone centre x and y, a summary line and a flatness map of
//                "map rows" lines (at most kMaxMapRows), so a reply can be made as long as wanted;
//   select:      (camera; x, y, width, height, flags; point column, point row) -> 1, the point's
//                index and the number selected, a summary and the point's pixel position;
//   save all:    eleven values -> 1 when every grid point has been selected, then a new start is
//                needed; else 0.
// Every request before a start answers 0. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "netmsg/lum_msg.h"

class CCalibration {
 public:
  static constexpr uint32_t kMaxGrid = 64;
  static constexpr uint32_t kMaxMapRows = 4096;

  // Returns false when request is not a calibration request (reply untouched).
  bool Handle(const CLumMsg& request, CLumMsg* reply);

 private:
  void Start(const CLumMsg& req, CLumMsg* reply);
  void FindFlatZone(const CLumMsg& req, CLumMsg* reply);
  void SelectPoint(const CLumMsg& req, CLumMsg* reply);
  void SaveAll(CLumMsg* reply);

  std::mutex mu_;
  bool started_ = false;
  std::string name_;
  uint32_t columns_ = 0, rows_ = 0;
  double mm_per_pixel_ = 0;
  std::set<uint32_t> selected_;
};
