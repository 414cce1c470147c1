// CVirtualMemoryStream: block reuse, growth and shrink-back on load, and
// the failures a load reports.
#include "streams/virtual_memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/virtual_memory.h"
#include "tests/engine/log_capture.h"
#include "tests/support/test_support.h"

namespace {

using vestrel::CVirtualMemoryStream;
using vestrel::_CPB_ERROR;

constexpr uint32_t kBuffer = 64 * 1024;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

// The thrown value, or 0 when nothing was thrown.
int LoadError(CVirtualMemoryStream& stream, const std::string& path) {
  try {
    stream.LoadFromFile(path);
  } catch (_CPB_ERROR error) {
    return error;
  }
  return 0;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

bool Holds(const CVirtualMemoryStream& stream, const std::vector<uint8_t>& bytes) {
  return stream.GetDataSize() == bytes.size() &&
         (bytes.empty() || memcmp(stream.GetMemory(), bytes.data(), bytes.size()) == 0);
}

class VirtualMemoryStreamTest : public ::testing::Test {
 protected:
  std::string MakeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ / name;
    EXPECT_TRUE(testsupport::WriteFileBytes(path, bytes.data(), bytes.size()));
    return path;
  }

  testsupport::TempDir dir_;
};

TEST_F(VirtualMemoryStreamTest, BufferSizeAllocatesAWritableBlockAndLogsTheRequest) {
  LogCapture log;
  CVirtualMemoryStream stream;
  EXPECT_EQ(nullptr, stream.GetMemory());
  EXPECT_EQ(1, stream.SetBufferSize(kBuffer));
  ASSERT_NE(nullptr, stream.GetMemory());
  EXPECT_EQ(kBuffer, stream.GetCapacity());
  EXPECT_EQ(kBuffer, stream.GetBufferSize());
  EXPECT_EQ(0u, stream.GetPosition());
  memset(stream.GetMemory(), 0x5A, kBuffer);
  EXPECT_EQ(1u, Count(log.Text(), "CVirtualMemoryStream :: SetSize(65536)"));
}

TEST_F(VirtualMemoryStreamTest, LoadsUpToTheBufferSizeReuseTheBlockWithoutReallocating) {
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  uint8_t* const block = stream.GetMemory();
  const std::vector<uint8_t> exact = Pattern(kBuffer, 1);
  const std::vector<uint8_t> small = Pattern(1000, 2);
  const std::string exactPath = MakeFile("exact.bin", exact);
  const std::string smallPath = MakeFile("small.bin", small);

  LogCapture log;
  ASSERT_EQ(0, LoadError(stream, exactPath));
  EXPECT_EQ(block, stream.GetMemory());
  EXPECT_TRUE(Holds(stream, exact));
  ASSERT_EQ(0, LoadError(stream, smallPath));
  EXPECT_EQ(block, stream.GetMemory());
  EXPECT_EQ(kBuffer, stream.GetCapacity());
  EXPECT_TRUE(Holds(stream, small));
  EXPECT_EQ(0u, Count(log.Text(), "SetSize("));
}

TEST_F(VirtualMemoryStreamTest, ALargerFileGrowsTheBlockAndTheNextSmallerOneShrinksItBack) {
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  const std::vector<uint8_t> large = Pattern(3 * kBuffer + 17, 3);
  const std::vector<uint8_t> small = Pattern(100, 4);
  const std::string largePath = MakeFile("large.bin", large);
  const std::string smallPath = MakeFile("small.bin", small);

  LogCapture log;
  ASSERT_EQ(0, LoadError(stream, largePath));
  EXPECT_EQ(large.size(), stream.GetCapacity());
  EXPECT_EQ(kBuffer, stream.GetBufferSize());
  EXPECT_TRUE(Holds(stream, large));
  EXPECT_EQ(1u, Count(log.Text(), "SetSize(196625)"));

  ASSERT_EQ(0, LoadError(stream, smallPath));
  EXPECT_EQ(kBuffer, stream.GetCapacity());
  EXPECT_TRUE(Holds(stream, small));
  EXPECT_EQ(1u, Count(log.Text(), "SetSize(65536)"));

  // Back at the buffer size, the next load reuses the block again.
  ASSERT_EQ(0, LoadError(stream, smallPath));
  EXPECT_EQ(2u, Count(log.Text(), "SetSize("));
}

TEST_F(VirtualMemoryStreamTest, AMissingFileThrowsFileNotFoundAndKeepsTheBlock) {
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  const std::vector<uint8_t> bytes = Pattern(5000, 5);
  ASSERT_EQ(0, LoadError(stream, MakeFile("present.bin", bytes)));
  uint8_t* const block = stream.GetMemory();

  EXPECT_EQ(vestrel::CPB_ERROR_FILE_NOT_FOUND, LoadError(stream, dir_ / "missing.bin"));
  EXPECT_EQ(0u, stream.GetDataSize());
  EXPECT_EQ(block, stream.GetMemory());
  EXPECT_EQ(kBuffer, stream.GetCapacity());
  EXPECT_EQ(0, memcmp(block, bytes.data(), bytes.size()));

  // A folder is not a file to load either.
  ASSERT_TRUE(plat::CreateFolder(dir_ / "folder"));
  EXPECT_EQ(vestrel::CPB_ERROR_FILE_NOT_FOUND, LoadError(stream, dir_ / "folder"));
  EXPECT_EQ(block, stream.GetMemory());
}

TEST_F(VirtualMemoryStreamTest, EnginePathsWithBackslashesAndOtherLetterCaseLoad) {
  ASSERT_TRUE(plat::CreateFolder(dir_ / "Sub"));
  const std::vector<uint8_t> bytes = Pattern(321, 6);
  MakeFile("Sub/Data.BIN", bytes);
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  ASSERT_EQ(0, LoadError(stream, dir_.Path() + "sub\\data.bin"));
  EXPECT_TRUE(Holds(stream, bytes));
}

TEST_F(VirtualMemoryStreamTest, AnEmptyFileLoadsAsNoDataInTheSameBlock) {
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  uint8_t* const block = stream.GetMemory();
  ASSERT_EQ(0, LoadError(stream, MakeFile("empty.bin", {})));
  EXPECT_EQ(0u, stream.GetDataSize());
  EXPECT_EQ(block, stream.GetMemory());
}

TEST_F(VirtualMemoryStreamTest, SizeZeroAndClearReleaseTheBlock) {
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer);
  EXPECT_EQ(1, stream.SetSize(0));
  EXPECT_EQ(nullptr, stream.GetMemory());
  EXPECT_EQ(0u, stream.GetCapacity());

  stream.SetSize(4096);
  EXPECT_NE(nullptr, stream.GetMemory());
  EXPECT_EQ(1, stream.Clear());
  EXPECT_EQ(nullptr, stream.GetMemory());
  EXPECT_EQ(0u, stream.GetCapacity());
  EXPECT_EQ(0u, stream.GetPosition());
}

// Lifts the allocation limit whatever the test's outcome.
struct AllocationLimit {
  explicit AllocationLimit(size_t bytes) { plat::SetVirtualMemoryLimitForTesting(bytes); }
  ~AllocationLimit() { plat::SetVirtualMemoryLimitForTesting(0); }
};

TEST_F(VirtualMemoryStreamTest, AllocationFailureThrowsNotEnoughMemoryAndLeavesNoBlock) {
  const std::string big = MakeFile("big.bin", Pattern(2 * kBuffer, 7));
  const std::string small = MakeFile("small.bin", Pattern(10, 8));
  CVirtualMemoryStream stream;
  stream.SetBufferSize(kBuffer / 2);
  AllocationLimit limit(kBuffer);

  try {
    stream.SetBufferSize(2 * kBuffer);
    ADD_FAILURE() << "an allocation over the limit succeeded";
  } catch (_CPB_ERROR error) {
    EXPECT_EQ(vestrel::CPB_ERROR_NOT_ENOUGH_MEMORY, error);
  }
  EXPECT_EQ(nullptr, stream.GetMemory());
  EXPECT_EQ(0u, stream.GetCapacity());
  EXPECT_EQ(kBuffer / 2, stream.GetBufferSize());

  // A file too large for any block fails its load the same way ...
  EXPECT_EQ(vestrel::CPB_ERROR_NOT_ENOUGH_MEMORY, LoadError(stream, big));
  EXPECT_EQ(0u, stream.GetDataSize());
  EXPECT_EQ(nullptr, stream.GetMemory());
  // ... and the next load that fits gets its buffer-sized block back.
  ASSERT_EQ(0, LoadError(stream, small));
  EXPECT_EQ(kBuffer / 2, stream.GetCapacity());
  EXPECT_EQ(10u, stream.GetDataSize());
}

}  // namespace
