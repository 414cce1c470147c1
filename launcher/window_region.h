// The launcher window's shape, taken from its background picture.
//
// Pixels of the key colour (red and blue 238..255, green at most 17: a
// magenta that survives a little colour drift in the artwork) are cut out
// of the window. The rule and the scan are portable; turning the runs into a
// system region is the window's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace launcher {

// A one-pixel-high rectangle of key-coloured pixels; right is exclusive.
struct PixelRun {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;  // top + 1
  bool operator==(const PixelRun&) const = default;
};

// Runs are turned into one partial region per this many rectangles; the
// partial regions are then united (the system's region builder is slow on
// very long rectangle lists).
constexpr size_t kRunsPerRegion = 3000;

bool IsKeyColour(uint8_t red, uint8_t green, uint8_t blue);

// Scans top-down rows of 32-bit pixels laid out as the system's 32-bit DIBs
// are (0x00RRGGBB: blue in the lowest byte), row after row with no padding.
// Runs come row by row, left to right; a run never continues into the next
// row.
std::vector<PixelRun> FindKeyRuns(const uint32_t* pixels, int width, int height);

}  // namespace launcher
