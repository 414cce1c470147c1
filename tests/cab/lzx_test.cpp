// LZX folders built with the test writer: window wrap, matches near the
// window size, odd uncompressed blocks at and before frame ends, repeated
// offsets, E8 translation, and the streams a decoder must refuse.
#include <gtest/gtest.h>

#include <cstdlib>

#include "apply/cab/fdi.h"
#include "platform/system_info.h"
#include "tests/cab/cab_test_support.h"
#include "tests/cab/lzx_writer.h"
#include "tests/support/test_support.h"

namespace cabtest {
namespace {

std::vector<uint8_t> OneFileCabinet(LzxWriter& writer, const std::string& name) {
  CabWriter cab;
  cab.folders.push_back(writer.Folder());
  CabFile file;
  file.name = name;
  file.size = static_cast<uint32_t>(writer.Plain().size());
  cab.files.push_back(file);
  return cab.Build();
}

CopyRun Decode(const std::vector<uint8_t>& cabinet) {
  FakeIo::Get().Reset();
  FakeIo::Get().AddFile("l/x.cab", cabinet);
  CopyRun run = RunCopy("x.cab", "l/");
  EXPECT_EQ(0, FakeIo::Get().liveBlocks);
  EXPECT_EQ(0, FakeIo::Get().openHandles);
  FakeIo::Get().Reset();
  return run;
}

std::string RegressionDir() {
  std::string dir = CAB_REGRESSION_DIR;
  if (plat::IsWindowsSystem() && !dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir + "/";
}

// Regression: a match copy that wrote whole words past its end clobbered
// window bytes that a later match at almost the window size still had to
// read (the window is now a frame larger than the format's window).
LzxWriter OvercopySample() {
  LzxWriter w;
  // More than a window of varied output, made of short random matches.
  const uint32_t filler = 70000;
  w.VerbatimBlock(filler);
  const std::vector<uint8_t> seed = RandomBytes(256, 31);
  for (uint8_t b : seed) w.Literal(b);
  uint32_t done = 256;
  uint32_t x = 99;
  while (done < filler) {
    x = x * 1103515245u + 12345u;
    const uint32_t inFrame = 32768 - done % 32768;
    uint32_t length = 8;
    if (length > filler - done) length = filler - done;
    if (length > inFrame) length = inFrame;
    if (length < 2) {
      w.Literal(static_cast<uint8_t>(x >> 24));
      done += 1;
      continue;
    }
    const uint32_t reach = done < LzxWriter::kWindow - 3 ? done : LzxWriter::kWindow - 3;
    w.Match(length, 1 + (x >> 8) % reach);
    done += length;
  }
  w.VerbatimBlock(48);
  // An ordinary copy of 3 bytes writes a whole word, 5 bytes past its end;
  // the next match reads from 3 bytes ahead of its start, a window back.
  w.Match(3, 100);
  w.Match(8, LzxWriter::kWindow - 3);
  w.Match(2, 50);
  w.Match(8, LzxWriter::kWindow - 3);
  w.Match(3, 1000);
  w.Match(8, LzxWriter::kWindow - 4);
  for (int i = 0; i < 16; ++i) w.Literal(static_cast<uint8_t>('a' + i));
  return w;
}

TEST(LzxRegression, OvercopyClobberedWindowHistory) {
  LzxWriter writer = OvercopySample();
  const std::vector<uint8_t> built = OneFileCabinet(writer, "overcopy.bin");
  const std::string path = RegressionDir() + "lzx-overcopy-clobbered-window-history.cab";
  if (getenv("CAB_WRITE_REGRESSIONS")) {
    ASSERT_TRUE(testsupport::WriteFileBytes(path, built.data(), built.size()));
  }
  const std::vector<uint8_t> sample = testsupport::ReadFileBytes(path);
  ASSERT_EQ(built, sample) << "the sample file no longer matches its recipe";
  const CopyRun run = Decode(sample);
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(writer.Plain(), run.collector.files[0].data);
}

TEST(Lzx, OddUncompressedBlocksEndingAtAndBeforeFrameEnds) {
  LzxWriter w;
  w.UncompressedBlock(RandomBytes(32767, 1));  // odd, ends one byte before the frame end
  w.UncompressedBlock(RandomBytes(1, 2));      // odd, ends at the frame end: pad byte in the next frame
  w.UncompressedBlock(RandomBytes(3, 3));
  w.VerbatimBlock(6);
  w.Match(3, 5);
  w.RepeatMatch(3, 0);
  w.UncompressedBlock(RandomBytes(40001, 4));  // spans a frame end
  const CopyRun run = Decode(OneFileCabinet(w, "u"));
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(w.Plain(), run.collector.files[0].data);
}

// An uncompressed block's header is followed by 1 to 16 bits of padding
// to the next 16-bit boundary: a whole word when the header ends on one.
TEST(Lzx, UncompressedBlockHeaderEndingOnAWordBoundary) {
  for (unsigned literals : {12u, 13u}) {
    SCOPED_TRACE(literals);
    LzxWriter w;
    w.VerbatimBlock(literals);
    for (unsigned i = 0; i < literals; ++i) w.Literal(static_cast<uint8_t>('a' + i));
    // The header to come takes 27 bits: after 13 literals it ends exactly
    // on a word boundary, after 12 nine bits short of one.
    EXPECT_EQ(literals == 13, (w.PendingBits() + 27) % 16 == 0);
    w.UncompressedBlock(RandomBytes(100, 10), 7, 8, 9);
    w.VerbatimBlock(4);
    w.RepeatMatch(2, 0);  // R0 from the uncompressed block's header
    w.RepeatMatch(2, 1);
    const CopyRun run = Decode(OneFileCabinet(w, "a"));
    ASSERT_EQ(1, run.result) << run.erf.erfOper;
    EXPECT_EQ(w.Plain(), run.collector.files[0].data);
  }
}

TEST(Lzx, RepeatedOffsetsSwapAsTheFormatSays) {
  LzxWriter w;
  w.UncompressedBlock(RandomBytes(300, 5), 10, 20, 30);  // R0-R2 from the block header
  w.VerbatimBlock(7 * 4);
  w.RepeatMatch(4, 0);  // 10
  w.RepeatMatch(4, 1);  // 20, swapped with R0
  w.RepeatMatch(4, 2);  // 30, swapped with R0
  w.RepeatMatch(4, 1);
  w.Match(4, 200);      // pushes the queue
  w.RepeatMatch(4, 2);
  w.RepeatMatch(4, 0);
  const CopyRun run = Decode(OneFileCabinet(w, "r"));
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(w.Plain(), run.collector.files[0].data);
}

TEST(Lzx, LongOutputWrapsTheWindowManyTimes) {
  LzxWriter w;
  w.UncompressedBlock(RandomBytes(1000, 6));
  uint32_t done = 1000;
  uint32_t seed = 7;
  while (done < 5 * LzxWriter::kWindow) {
    const uint32_t block = 20000;
    w.VerbatimBlock(block);
    uint32_t left = block;
    while (left) {
      const uint32_t inFrame = 32768 - (done % 32768);
      seed = seed * 1103515245u + 12345u;
      unsigned length = 2 + (seed >> 16) % 7;
      if (length > left) length = left;
      if (length > inFrame) length = inFrame;
      if (length < 2) {
        w.Literal(static_cast<uint8_t>(seed >> 24));
        length = 1;
      } else {
        uint32_t reach = done < LzxWriter::kWindow - 3 ? done : LzxWriter::kWindow - 3;
        w.Match(length, 1 + (seed >> 8) % reach);
      }
      left -= length;
      done += length;
    }
  }
  const CopyRun run = Decode(OneFileCabinet(w, "w"));
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(w.Plain(), run.collector.files[0].data);
}

// E8 translation as the format defines it, on the decoder's plain output.
std::vector<uint8_t> TranslateE8(std::vector<uint8_t> data, int32_t fileSize) {
  for (size_t frame = 0; frame < data.size(); frame += 32768) {
    const size_t size = data.size() - frame < 32768 ? data.size() - frame : 32768;
    if (size <= 10) continue;
    for (size_t i = 0; i < size - 10; ++i) {
      if (data[frame + i] != 0xE8) continue;
      uint8_t* p = &data[frame + i + 1];
      const int32_t absolute = static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24));
      const int32_t current = static_cast<int32_t>(frame + i);
      if (absolute >= -current && absolute < fileSize) {
        const int32_t relative = absolute >= 0 ? absolute - current : absolute + fileSize;
        for (int b = 0; b < 4; ++b) p[b] = static_cast<uint8_t>(static_cast<uint32_t>(relative) >> (8 * b));
      }
      i += 4;
    }
  }
  return data;
}

TEST(Lzx, E8CallsAreTranslatedBackInEveryFrameButItsLastTenBytes) {
  std::vector<uint8_t> code = RandomBytes(70000, 8);
  // No other call byte may take the chosen ones for its operand.
  for (uint8_t& b : code) b = b == 0xE8 ? 0 : b;
  // Calls with offsets inside and outside the translated range, at frame
  // ends and in the last ten bytes of a frame.
  // The range is -position <= target < file size: the call at 200 aims
  // exactly at the start, the one at 300 one byte before it.
  const size_t places[] = {0, 100, 200, 300, 32757, 32758, 32759, 32767, 40000, 65530, 69989, 69990};
  const int32_t targets[] = {50, -5, -200, -301, 1000000, 12000000, -100, 3, 11999999, -40000, 7, 8};
  for (size_t k = 0; k < sizeof(places) / sizeof(places[0]); ++k) {
    code[places[k]] = 0xE8;
    for (int b = 0; b < 4 && places[k] + 1 + b < code.size(); ++b) {
      code[places[k] + 1 + b] = static_cast<uint8_t>(static_cast<uint32_t>(targets[k]) >> (8 * b));
    }
  }
  LzxWriter w(12000000);
  w.UncompressedBlock(code);
  const CopyRun run = Decode(OneFileCabinet(w, "e8"));
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(TranslateE8(w.Plain(), 12000000), run.collector.files[0].data);
  EXPECT_NE(w.Plain(), run.collector.files[0].data);
}

TEST(Lzx, MatchesBeforeTheStreamStartOrAcrossAFrameEndAreRefused) {
  {
    LzxWriter w;
    w.VerbatimBlock(5);
    w.Literal('a');
    w.Literal('b');
    w.Match(3, 3);  // only two bytes exist
    EXPECT_EQ(FDIERROR_MDI_FAIL, Decode(OneFileCabinet(w, "p")).erf.erfOper);
  }
  {
    LzxWriter w;
    w.VerbatimBlock(3);
    w.RepeatMatch(3, 0);  // R0 = 1 at the start: nothing to copy yet
    EXPECT_EQ(FDIERROR_MDI_FAIL, Decode(OneFileCabinet(w, "q")).erf.erfOper);
  }
  {
    LzxWriter w;
    w.UncompressedBlock(RandomBytes(100, 9), 0, 1, 1);  // R0 = 0
    w.VerbatimBlock(3);
    w.RepeatMatch(3, 0);
    EXPECT_EQ(FDIERROR_MDI_FAIL, Decode(OneFileCabinet(w, "z")).erf.erfOper);
  }
  {
    // A data block promising more output than its input holds ends in an
    // error once the input runs out (past it the bits read as zeros).
    LzxWriter w;
    w.VerbatimBlock(1000);
    for (int i = 0; i < 10; ++i) w.Literal('x');
    CabWriter cab;
    cab.folders.push_back(w.Folder());
    cab.folders[0].blocks[0].uncompressed = 1000;
    CabFile file;
    file.name = "s";
    file.size = 1000;
    cab.files.push_back(file);
    EXPECT_EQ(FDIERROR_MDI_FAIL, Decode(cab.Build()).erf.erfOper);
  }
}

}  // namespace
}  // namespace cabtest
