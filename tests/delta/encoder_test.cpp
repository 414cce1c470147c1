// Our delta encoder: every pair of the JojoDiff reference set encoded and
// rebuilt by each of our decoders, its total size held against the
// reference tool's; hand-made pairs read back with the strict reader;
// files through small caches against bytes in memory; failures; and
// patchtool jdiff run in-process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apply/delta/delta_decoder.h"
#include "publish/delta_encoder.h"
#include "tests/delta/delta_test_support.h"
#include "tests/support/delta_writer.h"
#include "tools/commands.h"

namespace deltatest {
namespace {

using testsupport::Concat;
using testsupport::DeltaWriter;
using testsupport::ReadStrict;
using testsupport::Slice;

DeltaEncodeOptions Options(DeltaInPlace inPlace) {
  DeltaEncodeOptions options;
  options.inPlace = inPlace;
  return options;
}

// The delta rebuilds `expected` with the memory and file decoders, and with
// the in-place decoder when the encoder says it can.
void ExpectEveryDecoderRebuilds(const std::string& orig, const std::string& delta, const Bytes& expected,
                                bool inPlace, const testsupport::TempDir& dir) {
  const Decoded memory = DecodeMemoryFiles(orig, delta, dir / "out.memory", 4096);
  EXPECT_EQ(kDeltaOk, memory.result);
  EXPECT_TRUE(memory.output == expected) << "memory decoder";
  const Decoded file = DecodeFileFiles(orig, delta, dir / "out.file");
  EXPECT_EQ(kDeltaOk, file.result);
  EXPECT_TRUE(file.output == expected) << "file decoder";
  if (inPlace) {
    const Decoded placed = DecodeInPlaceFiles(orig, delta, dir / "out.inplace");
    EXPECT_EQ(kDeltaOk, placed.result);
    EXPECT_TRUE(placed.output == expected) << "in-place decoder";
  }
}

TEST(EncoderOnReferenceSet, EveryDecoderRebuildsEveryPairAndTheTotalStaysNearTheReference) {
  testsupport::TempDir dir;
  const std::string delta = dir / "delta";
  uint64_t ours = 0;
  uint64_t theirs = 0;
  for (const ManifestRow& row : LoadManifest()) {
    // The 4 GiB pair is beyond what a delta of ours may describe.
    if (row.variant != "default" || row.origSize > kDeltaMaxFileSize) continue;
    SCOPED_TRACE(row.caseName);
    const std::string orig = InputDir(row) + "orig";
    const Bytes expected = testsupport::ReadFileBytes(InputDir(row) + "new");
    ASSERT_EQ(row.newSize, expected.size()) << "the large cases are rebuilt by the fixture delta_testdata_regen";
    const bool sameSize = row.origSize == row.newSize;
    for (DeltaInPlace mode : {DeltaInPlace::kAuto, DeltaInPlace::kRequire}) {
      if (mode == DeltaInPlace::kRequire && !sameSize) continue;
      SCOPED_TRACE(mode == DeltaInPlace::kAuto ? "auto" : "in place required");
      const DeltaEncodeResult result = CDeltaEncoder(Options(mode)).EncodeFiles(orig, InputDir(row) + "new", delta);
      ASSERT_EQ(DeltaEncodeStatus::kOk, result.status);
      const Bytes bytes = testsupport::ReadFileBytes(delta);
      ASSERT_EQ(result.deltaSize, bytes.size());
      EXPECT_EQ("", ReadStrict(bytes, row.origSize).error);
      EXPECT_EQ(result.inPlace ? 1 : 0,
                CDeltaDecoder().CanPatchInPlace(bytes.data(), static_cast<uint32_t>(bytes.size())));
      ExpectEveryDecoderRebuilds(orig, delta, expected, result.inPlace && sameSize, dir);
      if (mode == DeltaInPlace::kRequire) {
        EXPECT_TRUE(result.inPlace);
        continue;
      }
      // Same-size edits stay in place, also where the reference tool
      // reaches for distant padding and moves (archive_inplace_24m).
      if (sameSize && (row.inplaceCapable || row.caseName == "archive_inplace_24m")) {
        EXPECT_TRUE(result.inPlace);
      }
      ours += result.deltaSize;
      theirs += row.deltaSize;
    }
  }
  ASSERT_GT(theirs, 0u);
  const double ratio = static_cast<double>(ours) / static_cast<double>(theirs);
  printf("our deltas of the reference pairs: %llu bytes, the reference tool's %llu: ratio %.3f\n",
         static_cast<unsigned long long>(ours), static_cast<unsigned long long>(theirs), ratio);
  EXPECT_LE(ratio, 1.15);
}

// ------------------------------------------------------------ hand-made

struct Pair {
  std::string name;
  Bytes orig;
  Bytes next;
  bool inPlace;        // expected of the auto layout
  Bytes exact = {};    // the whole delta, where it is worth pinning
  uint8_t needs = 0;   // an opcode the delta must hold
  uint32_t length = 0; // a length the delta must hold
};

std::vector<Pair> HandMadePairs() {
  const Bytes base = Filler(60000, 7);
  const Bytes block = Filler(5000, 8);
  // Escapes before opcode bytes, in pairs and at the end of runs.
  const Bytes escapes = {0xA7, 0xA7, 0xA7, 0xA5, 0xA7, 0x41, 0x00, 0xA7, 0xA2, 0xA7};
  Bytes edited = base;
  for (size_t at = 100; at + escapes.size() < edited.size(); at += 5000) {
    std::copy(escapes.begin(), escapes.end(), edited.begin() + static_cast<ptrdiff_t>(at));
  }
  std::vector<Pair> pairs = {
      {"identical", Bytes(6000, 1), Bytes(6000, 1), true, {0xA7, 0xA3, 0xFD, 0x17, 0x70}},
      {"a short equal start goes into the MOD data", B("abc"), B("abX"), true, {0xA7, 0xA6, 'a', 'b', 'X'}},
      {"into an empty original", {}, {0xA7}, false, {0xA7, 0xA5, 0xA7, 0xA7}},
      {"an escape ends the MOD run, the rest is inserted", {0x00}, {0xA7, 0x41},
       false, {0xA7, 0xA6, 0xA7, 0xA7, 0xA7, 0xA5, 0x41}},
      {"emptied", base, {}, true, {}},
      {"both empty", {}, {}, true, {}},
      {"escapes written in place", base, edited, true},
      {"escapes inserted", base, Concat({Slice(base, 0, 300), escapes, Bytes(700, 0xA7), Slice(base, 300, 59700)}),
       false, {}, DeltaWriter::kIns},
      {"block inserted", base, Concat({Slice(base, 0, 20000), block, Slice(base, 20000, 40000)}), false, {},
       DeltaWriter::kIns},
      {"block deleted", base, Concat({Slice(base, 0, 20000), Slice(base, 27000, 33000)}), false, {},
       DeltaWriter::kDel},
      {"block moved back, same size", base,
       Concat({Slice(base, 40000, 8000), Slice(base, 0, 40000), Slice(base, 48000, 12000)}), false, {},
       DeltaWriter::kBkt},
      {"grown past the original's end", base, Concat({Slice(base, 0, 59990), block}), false, {}, DeltaWriter::kIns},
      {"every byte differs", Bytes(3000, 0xA7), Bytes(3000, 0x00), true},
  };
  // Each length form at its edges, as EQL before a changed byte and as DEL.
  for (uint32_t length : {1u, 252u, 253u, 508u, 509u, 65535u, 65536u, 200000u}) {
    Bytes orig = Filler(length + 1000, length);
    Bytes changed = orig;
    changed[length] ^= 0xFF;
    const std::string name = "length " + std::to_string(length);
    // A single equal byte costs less as MOD data than as a copy.
    if (length > 1) pairs.push_back({name + " copied", orig, changed, true, {}, DeltaWriter::kEql, length});
    pairs.push_back({name + " deleted", orig, Concat({Slice(orig, 0, 500), Slice(orig, 500 + length, 500)}), false, {},
                     DeltaWriter::kDel, length});
  }
  return pairs;
}

TEST(EncoderOnHandMadePairs, DeltasKeepTheirPromisesAndEveryDecoderRebuilds) {
  testsupport::TempDir dir;
  for (const Pair& pair : HandMadePairs()) {
    SCOPED_TRACE(pair.name);
    Bytes delta;
    const DeltaEncodeResult result = CDeltaEncoder().EncodeBytes(pair.orig, pair.next, &delta);
    ASSERT_EQ(DeltaEncodeStatus::kOk, result.status);
    EXPECT_EQ(delta.size(), result.deltaSize);
    EXPECT_EQ(pair.inPlace, result.inPlace);
    if (!pair.exact.empty() || pair.next.empty()) {
      EXPECT_EQ(pair.exact, delta);
    }
    const testsupport::StrictDelta read = ReadStrict(delta, pair.orig.size());
    EXPECT_EQ("", read.error);
    if (pair.needs != 0) {
      EXPECT_EQ(1u, read.ops.count(pair.needs));
    }
    if (pair.length != 0) {
      bool seen = false;
      for (const auto& [form, value] : read.lengths) seen = seen || value == pair.length;
      EXPECT_TRUE(seen) << "no length of " << pair.length;
    }
    const std::string orig = dir / "orig";
    const std::string deltaPath = dir / "delta";
    ASSERT_TRUE(testsupport::WriteFileBytes(orig, pair.orig.data(), pair.orig.size()));
    ASSERT_TRUE(testsupport::WriteFileBytes(deltaPath, delta.data(), delta.size()));
    ExpectEveryDecoderRebuilds(orig, deltaPath, pair.next, result.inPlace && pair.orig.size() == pair.next.size(), dir);
  }
}

// ------------------------------------------------------------ files

class EncoderFiles : public ::testing::Test {
 protected:
  void Write(const std::string& name, const Bytes& bytes) {
    ASSERT_TRUE(testsupport::WriteFileBytes(dir_ / name, bytes.data(), bytes.size()));
  }

  testsupport::TempDir dir_;
};

TEST_F(EncoderFiles, SmallCachesAndIndexGiveTheSameDeltaAsMemory) {
  // About 1 MiB with moves, inserts and edits: with 64 KiB of cache and of
  // index the blocks are read again and again and the index samples every
  // few hundred bytes.
  const Bytes base = Filler(1 << 20, 11);
  const Bytes next = Concat({Slice(base, 600000, 200000), Filler(3000, 12), Slice(base, 0, 600000),
                             Slice(base, 800000, 248576)});
  Write("orig", base);
  Write("new", next);
  for (uint32_t budget : {64u * 1024, kDeltaCacheBytes}) {
    SCOPED_TRACE(budget);
    DeltaEncodeOptions options;
    options.cacheBytes = budget;
    options.indexBytes = budget;
    const CDeltaEncoder encoder(options);
    const DeltaEncodeResult result = encoder.EncodeFiles(dir_ / "orig", dir_ / "new", dir_ / "delta");
    ASSERT_EQ(DeltaEncodeStatus::kOk, result.status);
    Bytes fromMemory;
    ASSERT_EQ(DeltaEncodeStatus::kOk, encoder.EncodeBytes(base, next, &fromMemory).status);
    EXPECT_TRUE(fromMemory == testsupport::ReadFileBytes(dir_ / "delta"));
    EXPECT_LT(result.deltaSize, 4000u);
    ExpectEveryDecoderRebuilds(dir_ / "orig", dir_ / "delta", next, false, dir_);
  }
}

TEST_F(EncoderFiles, FailuresLeaveNoDeltaBehind) {
  Write("orig", Filler(200, 1));
  Write("new", Filler(300, 2));
  Write("old.delta", B("kept"));
  DeltaEncodeOptions small;
  small.maxFileSize = 250;
  struct Case {
    std::string name;
    DeltaEncodeOptions options;
    std::string orig, next, delta;
    DeltaEncodeStatus status;
  };
  const Case cases[] = {
      {"missing original", {}, dir_ / "missing", dir_ / "new", dir_ / "old.delta", DeltaEncodeStatus::kReadFailed},
      {"missing new file", {}, dir_ / "orig", dir_ / "missing", dir_ / "old.delta", DeltaEncodeStatus::kReadFailed},
      {"delta in a missing folder", {}, dir_ / "orig", dir_ / "new", dir_ / "no/delta", DeltaEncodeStatus::kWriteFailed},
      {"delta over the original", {}, dir_ / "orig", dir_ / "new", dir_ / "orig", DeltaEncodeStatus::kWriteFailed},
      {"too large", small, dir_ / "orig", dir_ / "new", dir_ / "old.delta", DeltaEncodeStatus::kTooLarge},
      {"in place for different sizes", Options(DeltaInPlace::kRequire), dir_ / "orig", dir_ / "new",
       dir_ / "old.delta", DeltaEncodeStatus::kNotSameSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DeltaEncodeResult result = CDeltaEncoder(c.options).EncodeFiles(c.orig, c.next, c.delta);
    EXPECT_EQ(c.status, result.status);
    EXPECT_FALSE(testsupport::PathExists(c.delta + ".part"));
  }
  EXPECT_EQ(B("kept"), testsupport::ReadFileBytes(dir_ / "old.delta"));
  EXPECT_EQ(Filler(200, 1), testsupport::ReadFileBytes(dir_ / "orig"));

  Bytes delta = B("stale");
  EXPECT_EQ(DeltaEncodeStatus::kTooLarge, CDeltaEncoder(small).EncodeBytes(Filler(200, 1), Filler(300, 2), &delta).status);
  EXPECT_TRUE(delta.empty());
}

TEST(DeltaPays, OnlyWhenAQuarterOfTheNewFileIsSaved) {
  const struct {
    uint64_t delta, newSize;
    bool pays;
  } table[] = {{0, 0, false}, {0, 1, true}, {75, 100, true}, {76, 100, false}, {100, 100, false},
               {3u << 30, 4ull << 30, true}, {(3u << 30) + 1, 4ull << 30, false}};
  for (const auto& row : table) EXPECT_EQ(row.pays, DeltaPays(row.delta, row.newSize)) << row.delta << " " << row.newSize;
}

// ------------------------------------------------------------ patchtool

int RunJdiff(std::vector<std::string> args, std::string* out = nullptr) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = JdiffCommand(static_cast<int>(args.size()), argv.data());
  const std::string printed = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
  if (out != nullptr) *out = printed;
  return status;
}

TEST_F(EncoderFiles, JdiffWritesTheDeltaAndSaysWhatItIs) {
  const Bytes base = Filler(10000, 3);
  Bytes edited = base;
  edited[5000] ^= 1;
  Write("orig", base);
  Write("edited", edited);
  Write("longer", Concat({base, B("tail")}));
  std::string out;
  ASSERT_EQ(0, RunJdiff({dir_ / "orig", dir_ / "edited", dir_ / "d1", "--inplace"}, &out));
  EXPECT_NE(std::string::npos, out.find("in-place capable (EQL and MOD only)")) << out;
  EXPECT_TRUE(DecodeInPlaceFiles(dir_ / "orig", dir_ / "d1", dir_ / "o1").output == edited);
  ASSERT_EQ(0, RunJdiff({dir_ / "orig", dir_ / "longer", dir_ / "d2"}, &out));
  EXPECT_NE(std::string::npos, out.find("not in-place capable")) << out;
  EXPECT_NE(std::string::npos, out.find(std::to_string(testsupport::ReadFileBytes(dir_ / "d2").size()) + " bytes"));

  EXPECT_EQ(1, RunJdiff({dir_ / "orig", dir_ / "longer", dir_ / "d3", "--inplace"}, &out));
  EXPECT_NE(std::string::npos, out.find("same size")) << out;
  EXPECT_FALSE(testsupport::PathExists(dir_ / "d3"));
  EXPECT_EQ(1, RunJdiff({dir_ / "missing", dir_ / "longer", dir_ / "d3"}));
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"a", "b"}, {"a", "b", "c", "d"}, {"a", "b", "c", "--fast"}}) {
    EXPECT_EQ(2, RunJdiff(bad));
  }
}

}  // namespace
}  // namespace deltatest
