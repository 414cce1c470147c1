#include "launcher/window_region.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using launcher::PixelRun;

uint32_t Pixel(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

TEST(WindowRegion, KeyColourRule) {
  struct Case {
    int r, g, b;
    bool key;
  };
  const Case cases[] = {
      {255, 0, 255, true},    {238, 17, 238, true},  {255, 17, 255, true},  {237, 0, 255, false},
      {255, 0, 237, false},   {255, 18, 255, false}, {0, 0, 0, false},      {255, 255, 255, false},
      {240, 10, 250, true},   {255, 0, 0, false},    {0, 0, 255, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b));
    EXPECT_EQ(c.key, launcher::IsKeyColour(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)));
  }
}

// Rows drawn as text: 'k' a key pixel, 'n' a near-key pixel that stays in
// the window, '.' anything else.
std::vector<uint32_t> Picture(const std::vector<std::string>& rows) {
  std::vector<uint32_t> px;
  for (const std::string& row : rows)
    for (char c : row) px.push_back(c == 'k' ? Pixel(250, 5, 244) : c == 'n' ? Pixel(237, 0, 255) : Pixel(30, 30, 30));
  return px;
}

TEST(WindowRegion, RunsEndAtRowEdgesAndNearKeyPixelsStay) {
  const std::vector<std::string> rows = {
      "kk....kk",  // a run at each edge
      "kkkkkkkk",  // a whole row, right after a run that ended at the edge
      "k.k.nkkn",  // single pixels; near-key pixels split a run
      "........",
      ".......k",  // ends at the last pixel, next row starts with key
      "kkk.....",
  };
  std::vector<uint32_t> px = Picture(rows);
  const std::vector<PixelRun> expected = {
      {0, 0, 2, 1}, {6, 0, 8, 1}, {0, 1, 8, 2}, {0, 2, 1, 3}, {2, 2, 3, 3},
      {5, 2, 7, 3}, {7, 4, 8, 5}, {0, 5, 3, 6},
  };
  EXPECT_EQ(expected, launcher::FindKeyRuns(px.data(), 8, int(rows.size())));
}

TEST(WindowRegion, NothingForAnEmptyPicture) {
  uint32_t one = Pixel(255, 0, 255);
  EXPECT_TRUE(launcher::FindKeyRuns(nullptr, 4, 4).empty());
  EXPECT_TRUE(launcher::FindKeyRuns(&one, 0, 1).empty());
  EXPECT_EQ(1u, launcher::FindKeyRuns(&one, 1, 1).size());
}

}  // namespace
