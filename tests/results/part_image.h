// What a test reads back from an inspection image, independently of the engine's own measuring:
// the part's width and height in millimetres, its angle and its label, and the statistics a
// series of such images must give.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testimg {

struct Part {
  double width = 0, height = 0, angle = 0;
  std::string label;
};

inline Part Read(const uint8_t* pixels, int width, int height) {
  Part p;
  int row = 0, column = 0;
  for (int x = 0; x < width; ++x) row += pixels[(height / 2) * width + x] > 60;
  for (int y = 0; y < height; ++y) column += pixels[y * width + width / 2] > 60;
  p.width = row * 0.1;
  p.height = column * 0.1;
  p.angle = (pixels[(height / 2) * width + width / 2] - 150) / 10.0;
  for (int x = 0; x < 32 && pixels[x]; ++x) p.label += static_cast<char>(pixels[x]);
  return p;
}

struct Stats {
  double min = 0, max = 0, sum = 0, sum_squares = 0;
  int count = 0;
  std::vector<double> values;
  void Add(double v) {
    values.push_back(v);
    min = count ? std::min(min, v) : v;
    max = count ? std::max(max, v) : v;
    sum += v;
    sum_squares += v * v;
    ++count;
  }
  double Mean() const { return count ? sum / count : 0; }
};

}  // namespace testimg
