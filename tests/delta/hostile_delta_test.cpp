// Deltas that ask for bytes outside the original, are cut short or cannot
// be written: every decoder stops with its result code, and the memory and
// in-place decoders stop before they have touched their output.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "apply/delta/delta_decoder.h"
#include "platform/system_info.h"
#include "streams/virtual_memory_file_stream.h"
#include "tests/delta/delta_test_support.h"
#include "tests/engine/log_capture.h"

namespace deltatest {
namespace {

struct Hostile {
  const char* name;
  Bytes delta;
  uint32_t memory;   // also the file decoder's result
  uint32_t inPlace;  // the in-place decoder refuses INS, DEL and BKT outright
};

TEST(HostileDelta, EveryDecoderStopsWithItsCode) {
  const Bytes orig = Filler(10, 4);
  const Hostile cases[] = {
      {"EQL past the end", B("\xA7\xA3\x0A"), kDeltaOutOfRange, kDeltaOutOfRange},
      {"EQL after the end was reached", B("\xA7\xA3\x09\xA7\xA3\x00"), kDeltaOutOfRange, kDeltaOutOfRange},
      {"EQL of 4 GiB - 1", B("\xA7\xA3\xFE\xFF\xFF\xFF\xFF"), kDeltaOutOfRange, kDeltaOutOfRange},
      {"MOD then EQL past the end", B("AB\xA7\xA3\x08"), kDeltaOutOfRange, kDeltaOutOfRange},
      {"DEL past the end", B("\xA7\xA4\x0A"), kDeltaOutOfRange, kDeltaMalformed},
      {"DEL of 4 GiB - 1", B("\xA7\xA3\x04\xA7\xA4\xFE\xFF\xFF\xFF\xFF"), kDeltaOutOfRange, kDeltaMalformed},
      {"BKT before the start", B("\xA7\xA2\x00"), kDeltaOutOfRange, kDeltaMalformed},
      {"BKT past the start", B("\xA7\xA3\x04\xA7\xA2\x05"), kDeltaOutOfRange, kDeltaMalformed},
      {"BKT of 4 GiB - 1", B("\xA7\xA3\x04\xA7\xA2\xFE\xFF\xFF\xFF\xFF"), kDeltaOutOfRange, kDeltaMalformed},
      {"lone escape at the end", B("ab\xA7"), kDeltaMalformed, kDeltaMalformed},
      {"opcode without its length", B("\xA7\xA3"), kDeltaMalformed, kDeltaMalformed},
      {"2-byte length cut short", B("\xA7\xA3\xFC"), kDeltaMalformed, kDeltaMalformed},
      {"3-byte length cut short", B("\xA7\xA3\xFD\x01"), kDeltaMalformed, kDeltaMalformed},
      {"5-byte length cut short", B("\xA7\xA2\xFE\x00\x00\x00"), kDeltaMalformed, kDeltaMalformed},
      {"9-byte length cut short", B("\xA7\xA4\xFF\x00\x00"), kDeltaMalformed, kDeltaMalformed},
      {"length beyond 32 bits", B("\xA7\xA3\xFF\x00\x00\x00\x01\x00\x00\x00\x00"), kDeltaMalformed, kDeltaMalformed},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const Decoded memory = DecodeMemoryBytes(dir, orig, c.delta);
    EXPECT_EQ(c.memory, memory.result) << "memory decoder";
    EXPECT_FALSE(memory.outputExists) << "the memory decoder created its output";
    EXPECT_EQ(c.memory, DecodeFileBytes(dir, orig, c.delta).result) << "file decoder";
    const Decoded inPlace = DecodeInPlaceBytes(dir, orig, c.delta);
    EXPECT_EQ(c.inPlace, inPlace.result) << "in-place decoder";
    EXPECT_EQ(orig, inPlace.output) << "the in-place decoder changed the file";
  }
}

TEST(HostileDelta, AMemoryDecodeThatIsRefusedLeavesAnExistingOutputAlone) {
  // The engine writes the new file straight over the client file.
  testsupport::TempDir dir;
  const std::string out = dir / "client.dat";
  ASSERT_TRUE(testsupport::WriteFileText(out, "precious"));
  vestrel::CVirtualMemoryFileStream output;
  output.SetBufferSize(4096);
  output.SetFileName(out);
  const Bytes orig = B("original");
  const Bytes delta = B("\xA7\xA5new data\xA7\xA3\x08");  // EQL of 9 over 8 bytes
  uint64_t written = 99;
  EXPECT_EQ(kDeltaOutOfRange, CDeltaDecoder().DecodeMemory(orig.data(), 8, delta.data(),
                                                           static_cast<uint32_t>(delta.size()), output, &written));
  EXPECT_EQ(0u, written);
  EXPECT_EQ("precious", testsupport::ReadFileText(out));
}

TEST(HostileDelta, InPlaceRefusesWhatItCannotApplyBeforeStoringAnything) {
  const Bytes orig = Filler(20, 5);
  for (const Bytes& delta : {B("XY\xA7\xA5ins"), B("XY\xA7\xA4\x01"), B("XY\xA7\xA3\x03\xA7\xA2\x01"),
                             B("XY\xA7\xA3\x10" "abcd")}) {
    testsupport::TempDir dir;
    const Decoded inPlace = DecodeInPlaceBytes(dir, orig, delta);
    EXPECT_NE(kDeltaOk, inPlace.result);
    EXPECT_EQ(orig, inPlace.output);
  }
}

TEST(HostileDelta, AnOutputThatCannotBeOpenedEndsTheMemoryDecodeWith17) {
  testsupport::TempDir dir;
  const Bytes orig = Filler(10000, 6);
  const Bytes insertMany = [] {
    Bytes delta = B("\xA7\xA5");
    const Bytes data = Filler(10000, 7);
    delta.insert(delta.end(), data.begin(), data.end());
    return delta;
  }();
  struct Run {
    const char* name;
    Bytes delta;
  };
  // Data bytes that fill the buffer, a copy larger than the buffer, and an
  // output small enough to wait for the final flush.
  const Run runs[] = {{"data bytes", insertMany}, {"EQL", B("\xA7\xA3\xFD\x27\x0F")}, {"final flush", B("ab")}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    vestrel::CVirtualMemoryFileStream output;
    output.SetBufferSize(4096);  // one page: a store past it would fault
    output.SetFileName(dir / "missing-folder/out.bin");
    uint64_t written = 0;
    EXPECT_EQ(kDeltaOutputFailed,
              CDeltaDecoder().DecodeMemory(orig.data(), static_cast<uint32_t>(orig.size()), run.delta.data(),
                                           static_cast<uint32_t>(run.delta.size()), output, &written));
    EXPECT_LE(output.GetBuffered(), 4096u);
    EXPECT_LE(written, 4096u);
  }
}

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

TEST(HostileDelta, FileDecoderReportsAnUnreadableOriginalAndAnUnwritableOutput) {
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileText(dir / "orig", "0123456789"));
  ASSERT_TRUE(testsupport::WriteFileText(dir / "delta", "\xA7\xA3\x03"));
  {
    // Opened for writing only, the original cannot be read. The Microsoft
    // runtime reports no read error for such a stream, only an end of
    // file, so there the copy fails as one past the end.
    UniqueFile original(fopen((dir / "orig").c_str(), "ab"));
    UniqueFile delta(fopen((dir / "delta").c_str(), "rb"));
    UniqueFile output(fopen((dir / "out").c_str(), "wb"));
    const uint32_t result = CDeltaDecoder().DecodeFile(original.get(), delta.get(), output.get());
    EXPECT_EQ(plat::IsWindowsSystem() ? kDeltaOutOfRange : kDeltaSeekFailed, result);
  }
  {
    UniqueFile original(fopen((dir / "orig").c_str(), "rb"));
    UniqueFile delta(fopen((dir / "delta").c_str(), "rb"));
    UniqueFile output(fopen((dir / "out").c_str(), "rb"));  // read-only
    EXPECT_EQ(kDeltaOutputFailed, CDeltaDecoder().DecodeFile(original.get(), delta.get(), output.get()));
  }
  EXPECT_EQ(kDeltaSeekFailed, CDeltaDecoder().DecodeFile(nullptr, nullptr, nullptr));
}

TEST(HostileDelta, FailuresAreLoggedAsErrorsWithTheDeltaOffset) {
  LogCapture log(kLogError);
  const Bytes orig = Filler(10, 8);
  const Bytes delta = B("abc\xA7\xA3\x0A");
  vestrel::CVirtualMemoryFileStream output;
  output.SetBufferSize(4096);
  testsupport::TempDir dir;
  output.SetFileName(dir / "out");
  CDeltaDecoder().DecodeMemory(orig.data(), 10, delta.data(), static_cast<uint32_t>(delta.size()), output, nullptr);
  EXPECT_TRUE(log.Contains("JPatch failed : Decoder [memory] Result [16] DeltaOffset [6] : EQL past the end of the original"))
      << log.Text();
}

}  // namespace
}  // namespace deltatest
