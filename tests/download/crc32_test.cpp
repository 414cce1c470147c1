#include "download/crc32.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/file_system.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

std::string CrcTextOf(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  EXPECT_TRUE(testsupport::WriteFileBytes(dir.Path() + name, bytes.data(), bytes.size()));
  return GetFileCrcText(dir.Path() + name);
}

// The bit-at-a-time definition, to check the sliced tables against.
uint32_t ReferenceCrc(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, KnownVectors) {
  TempDir dir;
  EXPECT_EQ("0x00000000", CrcTextOf(dir, "empty", {}));
  EXPECT_EQ("0x352441c2", CrcTextOf(dir, "abc", {'a', 'b', 'c'}));
  EXPECT_EQ("0xcbf43926", CrcTextOf(dir, "digits", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST(Crc32, BlockBoundariesAndOddLengthsMatchTheDefinition) {
  TempDir dir;
  for (size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4095}, size_t{4096}, size_t{4097},
                      size_t{65536}, size_t{65537}, size_t{200003}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    uint32_t x = static_cast<uint32_t>(size) * 2654435761u;
    for (auto& b : bytes) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 23);
    }
    char expected[16];
    snprintf(expected, sizeof expected, "0x%08x", ReferenceCrc(bytes));
    EXPECT_EQ(expected, CrcTextOf(dir, "f" + std::to_string(size), bytes));
    EXPECT_EQ(ReferenceCrc(bytes), Crc32OfBuffer(bytes.data(), bytes.size()));
  }
}

TEST(Crc32, UnreadableOrTableless) {
  TempDir dir;
  EXPECT_EQ("0xffffffff", GetFileCrcText(dir.Path() + "missing.bin"));
  // A folder cannot be read as a file either.
  EXPECT_EQ("0xffffffff", GetFileCrcText(dir.Path()));

  CCrc32Dynamic crc32;
  uint32_t crc = 1234;
  EXPECT_EQ(2u, [&] {
    crc32.BuildTable();
    return crc32.ComputeFileCrc(dir.Path() + "missing.bin", crc);
  }());
  EXPECT_EQ(0u, crc);

  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "x", "abc"));
  crc32.ReleaseTable();
  crc = 1234;
  EXPECT_EQ(kCrcNoTable, crc32.ComputeFileCrc(dir.Path() + "x", crc));
  EXPECT_EQ(0u, crc);
  crc32.BuildTable();
  EXPECT_EQ(0u, crc32.ComputeFileCrc(dir.Path() + "x", crc));
  EXPECT_EQ(0x352441c2u, crc);
}

// A file that opens but fails to read (the process's own memory file, whose
// first page is never mapped) has no CRC: the CRC of the part read would
// pass for the whole file's.
TEST(Crc32, AReadErrorGivesNoCrc) {
  const std::string path = testsupport::RunningUnderWine() ? "Z:\\proc\\self\\mem" : "/proc/self/mem";
  {
    plat::File probe;
    char byte = 0;
    uint32_t got = 0;
    if (!probe.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting) ||
        probe.Read(&byte, 1, &got)) {
      GTEST_SKIP() << path << " is not a file that opens and then fails to read on this system";
    }
  }
  EXPECT_EQ("0xffffffff", GetFileCrcText(path));
  CCrc32Dynamic crc32;
  crc32.BuildTable();
  uint32_t crc = 1234;
  EXPECT_NE(0u, crc32.ComputeFileCrc(path, crc));
  EXPECT_EQ(0u, crc);
}

// A file whose true CRC is 0xFFFFFFFF is indistinguishable from an
// unreadable one in text form. Four bytes chosen by inverting the CRC.
TEST(Crc32, TrueCrcOfAllOnesReadsAsUnknown) {
  // The CRC of "\x00\x00\x00\x00" followed by the right four bytes can be
  // driven to any value; find those bytes by brute force over the last byte
  // pairs is slow, so use the linearity of CRC: crc(m ^ d) = crc(m) ^ crc(d) ^ crc(0).
  std::vector<uint8_t> bytes(4, 0);
  // Solve bit by bit: each of the 32 message bits flips a fixed set of CRC bits.
  uint32_t columns[32];
  const uint32_t base = ReferenceCrc(bytes);
  for (int bit = 0; bit < 32; ++bit) {
    std::vector<uint8_t> m(4, 0);
    m[bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
    columns[bit] = ReferenceCrc(m) ^ base;
  }
  // Gaussian elimination over GF(2) for target ^ base.
  uint32_t target = 0xFFFFFFFFu ^ base;
  uint32_t rows[32];
  uint32_t picks[32];
  for (int i = 0; i < 32; ++i) {
    rows[i] = columns[i];
    picks[i] = 1u << i;
  }
  uint32_t solution = 0;
  for (int pivot = 31, used = 0; pivot >= 0; --pivot) {
    int found = -1;
    for (int r = used; r < 32; ++r) {
      if (rows[r] >> pivot & 1) {
        found = r;
        break;
      }
    }
    if (found < 0) continue;
    std::swap(rows[used], rows[found]);
    std::swap(picks[used], picks[found]);
    for (int r = 0; r < 32; ++r) {
      if (r != used && (rows[r] >> pivot & 1)) {
        rows[r] ^= rows[used];
        picks[r] ^= picks[used];
      }
    }
    if (target >> pivot & 1) {
      target ^= rows[used];
      solution ^= picks[used];
    }
    ++used;
  }
  ASSERT_EQ(0u, target);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(solution >> (8 * i));
  ASSERT_EQ(0xFFFFFFFFu, ReferenceCrc(bytes));
  TempDir dir;
  EXPECT_EQ("0xffffffff", CrcTextOf(dir, "ones", bytes));
}

}  // namespace
