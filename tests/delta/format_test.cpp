// The format's rules on hand-made deltas, each through all three decoders
// (and the in-place decoder where the delta allows it): lengths, escapes,
// the implicit MOD, MOD at the end of the original, and CanPatchInPlace.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "apply/delta/delta_decoder.h"
#include "tests/delta/delta_test_support.h"

namespace deltatest {
namespace {

struct Case {
  const char* name;
  Bytes orig;
  Bytes delta;
  Bytes expected;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
  size_t total = 0;
  for (const Bytes& part : parts) total += part.size();
  // Sized up front: growing by insert() here makes GCC 12 at -O3 report a
  // false buffer overflow inside the inlined vector code.
  Bytes all(total);
  size_t at = 0;
  for (const Bytes& part : parts) {
    if (!part.empty()) std::memcpy(all.data() + at, part.data(), part.size());
    at += part.size();
  }
  return all;
}

Bytes Head(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)); }

void ExpectEveryDecoderGives(const Case& c) {
  SCOPED_TRACE(c.name);
  testsupport::TempDir dir;
  const Decoded memory = DecodeMemoryBytes(dir, c.orig, c.delta);
  EXPECT_EQ(kDeltaOk, memory.result);
  EXPECT_EQ(c.expected, memory.output) << "memory decoder";
  const Decoded file = DecodeFileBytes(dir, c.orig, c.delta);
  EXPECT_EQ(kDeltaOk, file.result);
  EXPECT_EQ(c.expected, file.output) << "file decoder";
  if (CDeltaDecoder().CanPatchInPlace(c.delta.data(), static_cast<uint32_t>(c.delta.size())) &&
      c.expected.size() <= c.orig.size()) {
    const Decoded inPlace = DecodeInPlaceBytes(dir, c.orig, c.delta);
    EXPECT_EQ(kDeltaOk, inPlace.result);
    EXPECT_EQ(c.expected, inPlace.output) << "in-place decoder";
  }
}

TEST(DeltaFormat, LengthFormsAtEveryBoundary) {
  const Bytes orig = Filler(70000, 1);
  struct Length {
    Bytes operand;
    size_t value;
  };
  const Length lengths[] = {
      {B("\x00"), 1},
      {B("\xFB"), 252},
      {B("\xFC\x00"), 253},
      {B("\xFC\xFF"), 508},
      {B("\xFD\x01\x00"), 256},
      {B("\xFD\xFF\xFF"), 65535},
      {B("\xFE\x00\x01\x00\x00"), 65536},
      {B("\xFE\x00\x01\x11\x70"), 70000},
  };
  for (const Length& length : lengths) {
    const std::string name = "EQL " + std::to_string(length.value);
    ExpectEveryDecoderGives({name.c_str(), orig, Cat({B("\xA7\xA3"), length.operand}), Head(orig, length.value)});
  }
  // A zero length is legal in the multi-byte forms and does nothing.
  ExpectEveryDecoderGives({"EQL 0 then EQL 3", orig, B("\xA7\xA3\xFD\x00\x00\xA7\xA3\x02"), Head(orig, 3)});
}

TEST(DeltaFormat, EightByteLengthsAreForTheFileDecoderOnly) {
  testsupport::TempDir dir;
  const Bytes orig = Filler(300, 2);
  const Bytes delta = B("\xA7\xA3\xFF\x00\x00\x00\x00\x00\x00\x01\x00");
  const Decoded file = DecodeFileBytes(dir, orig, delta);
  EXPECT_EQ(kDeltaOk, file.result);
  EXPECT_EQ(Head(orig, 256), file.output);
  EXPECT_EQ(kDeltaMalformed, DecodeMemoryBytes(dir, orig, delta).result);
  EXPECT_EQ(kDeltaMalformed, DecodeInPlaceBytes(dir, orig, delta).result);
  EXPECT_EQ(0, CDeltaDecoder().CanPatchInPlace(delta.data(), static_cast<uint32_t>(delta.size())));
}

TEST(DeltaFormat, EscapesInData) {
  const Bytes orig = B("abcdefgh");
  ExpectEveryDecoderGives({"A7 A7 inserts one A7", orig, B("\xA7\xA5x\xA7\xA7y"), B("x\xA7y")});
  ExpectEveryDecoderGives({"A7 41 inserts both bytes", orig, B("\xA7\xA5\xA7\x41"), B("\xA7\x41")});
  ExpectEveryDecoderGives({"A7 before an opcode is doubled", orig, B("\xA7\xA5\xA7\xA7\xA7\xA3\x00"), B("\xA7" "a")});
  ExpectEveryDecoderGives({"A7 with a byte above the opcodes", orig, B("\xA7\xA5\xA7\xA8\xA7\xFF"), B("\xA7\xA8\xA7\xFF")});
  // Under MOD each of the two bytes replaces one original byte.
  ExpectEveryDecoderGives({"A7 41 under MOD advances twice", orig, B("\xA7\xA6\xA7\x41\xA7\xA3\x01"), B("\xA7" "Acd")});
}

TEST(DeltaFormat, DataWithNoOpcodeBeforeItIsModData) {
  const Bytes orig = B("abcdef");
  ExpectEveryDecoderGives({"at the start", orig, B("XY\xA7\xA3\x00"), B("XYc")});
  ExpectEveryDecoderGives({"after EQL", orig, B("\xA7\xA3\x00Z\xA7\xA3\x00"), B("aZc")});
  ExpectEveryDecoderGives({"after DEL", orig, B("\xA7\xA4\x00Z\xA7\xA3\x00"), B("Zc")});
  ExpectEveryDecoderGives({"after BKT", orig, B("\xA7\xA3\x01\xA7\xA2\x00Z\xA7\xA3\x00"), B("abZc")});
  ExpectEveryDecoderGives({"after INS then EQL", orig, B("\xA7\xA5ii\xA7\xA3\x00Z\xA7\xA3\x00"), B("iiaZc")});
  ExpectEveryDecoderGives({"explicit MOD decodes the same", orig, B("\xA7\xA6XY\xA7\xA3\x00"), B("XYc")});
}

TEST(DeltaFormat, ModPastTheEndStillWritesAndThePositionStaysAtTheEnd) {
  // Four MOD bytes over a two-byte original: BKT 1 then lands on the last
  // byte only if the position stopped at the end.
  ExpectEveryDecoderGives({"MOD past the end", B("ab"), B("1234\xA7\xA2\x00\xA7\xA3\x00"), B("1234b")});
}

TEST(DeltaFormat, WholeOriginalAndEmptyCases) {
  const Bytes orig = Filler(1000, 3);
  ExpectEveryDecoderGives({"EQL of the whole original", orig, B("\xA7\xA3\xFD\x03\xE8"), orig});
  ExpectEveryDecoderGives({"empty delta", orig, Bytes(), Bytes()});
  ExpectEveryDecoderGives({"insert into nothing", Bytes(), B("\xA7\xA5new"), B("new")});
  ExpectEveryDecoderGives({"DEL to the end", orig, B("\xA7\xA3\x09\xA7\xA4\xFD\x03\xDE"), Head(orig, 10)});
}

TEST(DeltaFormat, InPlaceKeepsTheFileLengthAndReportsTheDescribedOne) {
  testsupport::TempDir dir;
  const Bytes orig = B("0123456789");
  const Decoded shorter = DecodeInPlaceBytes(dir, orig, B("\xA7\xA3\x02" "AB"));
  ASSERT_EQ(kDeltaOk, shorter.result);
  EXPECT_EQ(5u, shorter.written);
  EXPECT_EQ(B("012AB"), shorter.output);
  EXPECT_EQ(B("012AB56789"), testsupport::ReadFileBytes(dir / "out.inplace"));
}

TEST(CanPatchInPlace, OnlyEqualAndModifyRunsQualify) {
  const CDeltaDecoder decoder;
  auto can = [&](const Bytes& delta) { return decoder.CanPatchInPlace(delta.data(), static_cast<uint32_t>(delta.size())); };
  EXPECT_EQ(1, can(Bytes()));
  EXPECT_EQ(1, can(B("\xA7\xA3\x05xy\xA7\xA6z\xA7\xA3\xFC\x10")));
  EXPECT_EQ(1, can(B("\xA7\xA6\xA7\xA7\xA7\x41")));  // escaped data is not an opcode
  EXPECT_EQ(0, can(B("\xA7\xA3\x05\xA7\xA5x")));
  EXPECT_EQ(0, can(B("\xA7\xA4\x05")));
  EXPECT_EQ(0, can(B("\xA7\xA3\x05\xA7\xA2\x01")));
  // Length bytes are skipped as lengths: an EQL of 168 (length byte A7)
  // does not swallow the INS after it ...
  EXPECT_EQ(0, can(B("\xA7\xA3\xA7\xA7\xA5x")));
  // ... and a length whose bytes read A7 A5 is not an INS.
  EXPECT_EQ(1, can(B("\xA7\xA3\xFE\x00\x00\xA7\xA5xyz")));
  // A delta that is cut short cannot be applied in any way.
  EXPECT_EQ(0, can(B("\xA7\xA3\xFD\x01")));
}

}  // namespace
}  // namespace deltatest
