// Conformance against the JojoDiff reference deltas: every delta of the
// manifest rebuilds its new file with every decoder that can take it, and
// CanPatchInPlace agrees with the manifest's in-place column.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "apply/delta/delta_decoder.h"
#include "platform/file_system.h"
#include "streams/virtual_memory_stream.h"
#include "tests/delta/delta_test_support.h"

namespace deltatest {
namespace {

// One entry per distinct delta file: variants with identical deltas share it.
std::vector<ManifestRow> DistinctDeltas() {
  std::vector<ManifestRow> rows;
  std::set<std::pair<std::string, std::string>> seen;
  for (const ManifestRow& row : LoadManifest()) {
    if (seen.insert({row.caseName, row.deltaFile}).second) rows.push_back(row);
  }
  return rows;
}

std::string ParamName(const ::testing::TestParamInfo<ManifestRow>& info) {
  std::string name = info.param.caseName + "_" + info.param.deltaFile;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// The 4 GiB case cannot be held by any decoder here: its first length
// needs 33 bits, and it is refused before the original is read.
bool NeedsMoreThan32Bits(const ManifestRow& row) { return row.origSize > 0xFFFFFFFFull; }

class ReferenceDelta : public ::testing::TestWithParam<ManifestRow> {
 protected:
  void SetUp() override {
    const ManifestRow& row = GetParam();
    delta_ = DeltaDir(row) + row.deltaFile;
    orig_ = InputDir(row) + "orig";
    if (NeedsMoreThan32Bits(row)) return;
    expected_ = testsupport::ReadFileBytes(InputDir(row) + "new");
    ASSERT_EQ(row.newSize, expected_.size()) << InputDir(row) << "new is missing or differs; the large cases are "
                                             << "rebuilt by the test fixture delta_testdata_regen (run through ctest)";
    uint64_t origSize = 0;
    ASSERT_TRUE(plat::FileSize(orig_, &origSize));
    ASSERT_EQ(row.origSize, origSize);
  }

  void ExpectRebuilt(const Decoded& decoded, const char* decoder) {
    SCOPED_TRACE(decoder);
    ASSERT_EQ(kDeltaOk, decoded.result);
    ASSERT_EQ(expected_.size(), decoded.output.size());
    EXPECT_TRUE(expected_ == decoded.output) << "output differs from new";
  }

  testsupport::TempDir dir_;
  std::string delta_;
  std::string orig_;
  Bytes expected_;
};

TEST_P(ReferenceDelta, RebuildsTheNewFileWithEveryDecoder) {
  const ManifestRow& row = GetParam();
  if (NeedsMoreThan32Bits(row)) {
    // A tiny original stands in: the delta fails on its first length.
    const Bytes orig(16, 0);
    const Bytes delta = testsupport::ReadFileBytes(delta_);
    EXPECT_EQ(kDeltaMalformed, DecodeMemoryBytes(dir_, orig, delta).result);
    EXPECT_EQ(kDeltaMalformed, DecodeInPlaceBytes(dir_, orig, delta).result);
    EXPECT_EQ(kDeltaMalformed, DecodeFileBytes(dir_, orig, delta).result);
    return;
  }

  // A buffer far smaller than the output makes the decoder flush often
  // and split long copies; a large one holds the whole output.
  const Decoded small = DecodeMemoryFiles(orig_, delta_, dir_ / "out.small", 4096);
  ExpectRebuilt(small, "memory decoder, 4 KiB buffer");
  EXPECT_EQ(expected_.size(), small.written);
  ExpectRebuilt(DecodeMemoryFiles(orig_, delta_, dir_ / "out.large", 48u * 1024 * 1024), "memory decoder, 48 MiB buffer");
  ExpectRebuilt(DecodeFileFiles(orig_, delta_, dir_ / "out.file"), "file decoder");

  // The engine patches in place only files whose size does not change.
  if (row.inplaceCapable && row.origSize == row.newSize) {
    ExpectRebuilt(DecodeInPlaceFiles(orig_, delta_, dir_ / "out.inplace"), "in-place decoder");
  }
}

TEST_P(ReferenceDelta, CanPatchInPlaceAgreesWithTheManifest) {
  vestrel::CVirtualMemoryStream delta;
  delta.LoadFromFile(delta_);
  const ManifestRow& row = GetParam();
  // The 4 GiB case has only EQL and MOD, but its 8-byte length is beyond
  // the in-place decoder.
  const int expected = row.inplaceCapable && !NeedsMoreThan32Bits(row) ? 1 : 0;
  EXPECT_EQ(expected, CDeltaDecoder().CanPatchInPlace(delta));
}

INSTANTIATE_TEST_SUITE_P(Jdiff, ReferenceDelta, ::testing::ValuesIn(DistinctDeltas()), ParamName);

}  // namespace
}  // namespace deltatest
