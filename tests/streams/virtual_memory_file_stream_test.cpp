// CVirtualMemoryFileStream: the write buffer in front of an output file.
#include "streams/virtual_memory_file_stream.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using vestrel::CVirtualMemoryFileStream;

constexpr uint32_t kBuffer = 4096;  // one page: a store past it would fault

std::vector<uint8_t> Bytes(size_t size, uint8_t first) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i * 7 + (i >> 8));
  return bytes;
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { stream_.SetBufferSize(kBuffer); }

  testsupport::TempDir dir_;
  CVirtualMemoryFileStream stream_;
};

TEST_F(FileStreamTest, NothingReachesTheDiskBeforeTheFirstFlush) {
  const std::string out = dir_ / "out.bin";
  stream_.SetFileName(out);
  const std::vector<uint8_t> bytes = Bytes(1000, 1);
  ASSERT_EQ(1, stream_.Write(bytes.data(), 1000));
  EXPECT_FALSE(testsupport::PathExists(out));
  EXPECT_EQ(1000u, stream_.GetBuffered());
  EXPECT_EQ(1000u, stream_.GetTotalWritten());

  ASSERT_EQ(1, stream_.Flush());
  EXPECT_EQ(0u, stream_.GetBuffered());
  EXPECT_EQ(1000u, stream_.GetTotalWritten());
  ASSERT_EQ(1, stream_.Close());
  EXPECT_EQ(bytes, testsupport::ReadFileBytes(out));
}

TEST_F(FileStreamTest, AWriteLargerThanTheWholeBufferArrivesCompleteAndInOrder) {
  const std::string out = dir_ / "out.bin";
  stream_.SetFileName(out);
  const std::vector<uint8_t> head = Bytes(100, 3);
  const std::vector<uint8_t> big = Bytes(3 * kBuffer + 5, 9);
  ASSERT_EQ(1, stream_.Write(head.data(), static_cast<uint32_t>(head.size())));
  ASSERT_EQ(1, stream_.Write(big.data(), static_cast<uint32_t>(big.size())));
  EXPECT_EQ(0u, stream_.GetBuffered());  // the cursor is back at the block's start
  EXPECT_EQ(head.size() + big.size(), stream_.GetTotalWritten());
  ASSERT_EQ(1, stream_.Close());

  std::vector<uint8_t> expected = head;
  expected.insert(expected.end(), big.begin(), big.end());
  EXPECT_EQ(expected, testsupport::ReadFileBytes(out));
}

TEST_F(FileStreamTest, MixedWritesPutsAndReferencesOfEverySizeKeepTheirOrder) {
  const std::string out = dir_ / "mixed.bin";
  stream_.SetFileName(out);
  std::mt19937 random(20240607);
  std::vector<uint8_t> expected;
  // Referenced bytes are read at the flush: they live to the end. Enough
  // of them to pass the number of pieces one flush takes.
  std::deque<std::vector<uint8_t>> kept;
  for (int i = 0; i < 2400; ++i) {
    const uint32_t size = random() % 3 == 0 ? random() % (2 * kBuffer + 3) : random() % 64;
    const std::vector<uint8_t>& piece = kept.emplace_back(Bytes(size, static_cast<uint8_t>(i)));
    const int done = i % 3 == 0   ? stream_.Write(piece.data(), size)
                     : i % 3 == 1 ? stream_.Put(piece.data(), size)
                                  : stream_.WriteReferenced(piece.data(), size);
    ASSERT_EQ(1, done) << "piece " << i;
    expected.insert(expected.end(), piece.begin(), piece.end());
    ASSERT_LE(stream_.GetBuffered(), kBuffer);
  }
  EXPECT_EQ(expected.size(), stream_.GetTotalWritten());
  ASSERT_EQ(1, stream_.Flush());
  ASSERT_EQ(1, stream_.Close());
  EXPECT_EQ(expected, testsupport::ReadFileBytes(out));
}

TEST_F(FileStreamTest, AnOutputThatCannotBeOpenedStopsTheWritesInsideTheBuffer) {
  stream_.SetFileName(dir_ / "missing-folder/out.bin");
  const std::vector<uint8_t> bytes = Bytes(3 * kBuffer, 5);
  ASSERT_EQ(1, stream_.Put(bytes.data(), 4000));
  // Put fills the block to its end, then needs the flush that fails.
  EXPECT_EQ(0, stream_.Put(bytes.data(), 200));
  EXPECT_EQ(kBuffer, stream_.GetBuffered());
  EXPECT_EQ(0, stream_.Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(kBuffer, stream_.GetBuffered());
  {
    const std::vector<uint8_t> gone = Bytes(100, 9);
    EXPECT_EQ(1, stream_.WriteReferenced(gone.data(), 100));
    EXPECT_EQ(0, stream_.Flush());
  }
  EXPECT_FALSE(stream_.IsFileOpen());

  // The next output starts empty: nothing of the failed one leads it.
  const std::string out = dir_ / "next.bin";
  stream_.SetFileName(out);
  EXPECT_EQ(0u, stream_.GetTotalWritten());
  ASSERT_EQ(1, stream_.Put("abc", 3));
  ASSERT_EQ(1, stream_.Flush());
  ASSERT_EQ(1, stream_.Close());
  EXPECT_EQ("abc", testsupport::ReadFileText(out));
}

TEST_F(FileStreamTest, TheFirstFlushReplacesAnExistingFile) {
  const std::string out = dir_ / "existing.bin";
  ASSERT_TRUE(testsupport::WriteFileText(out, std::string(10000, 'x')));
  stream_.SetFileName(out);
  ASSERT_EQ(1, stream_.Put("new", 3));
  ASSERT_EQ(1, stream_.Flush());
  ASSERT_EQ(1, stream_.Close());
  EXPECT_EQ("new", testsupport::ReadFileText(out));
}

TEST(FileStreamWithoutBlock, RefusesBytesItCannotHold) {
  testsupport::TempDir dir;
  CVirtualMemoryFileStream stream;
  stream.SetFileName(dir / "out.bin");
  EXPECT_EQ(0, stream.Write("x", 1));
  EXPECT_EQ(0, stream.Put("x", 1));
  EXPECT_EQ(1, stream.Write("x", 0));
  // An empty output is still made.
  EXPECT_EQ(1, stream.Flush());
  EXPECT_EQ(1, stream.Close());
  EXPECT_TRUE(testsupport::PathExists(dir / "out.bin"));
}

}  // namespace
