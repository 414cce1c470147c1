#include "tests/delta/delta_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "apply/delta/delta_decoder.h"
#include "platform/file_system.h"
#include "platform/system_info.h"
#include "streams/file_map_stream.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"

namespace deltatest {

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

void ReadOutput(const std::string& out, Decoded* decoded) {
  decoded->outputExists = testsupport::PathExists(out);
  if (decoded->outputExists) decoded->output = testsupport::ReadFileBytes(out);
}

std::string WriteBytes(const testsupport::TempDir& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir / name;
  EXPECT_TRUE(testsupport::WriteFileBytes(path, bytes.data(), bytes.size()));
  return path;
}

}  // namespace

std::vector<ManifestRow> LoadManifest() {
  std::ifstream in(testsupport::TestDataDir() + "jdiff/MANIFEST.tsv", std::ios::binary);
  std::vector<ManifestRow> rows;
  std::string line;
  std::vector<std::string> header;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = SplitTabs(line);
    if (header.empty()) {
      header = fields;
      continue;
    }
    auto field = [&](const std::string& name) -> std::string {
      for (size_t i = 0; i < header.size() && i < fields.size(); ++i) {
        if (header[i] == name) return fields[i];
      }
      ADD_FAILURE() << "MANIFEST.tsv has no column " << name;
      return std::string();
    };
    ManifestRow row;
    row.caseName = field("case");
    row.variant = field("variant");
    row.deltaFile = field("delta_file");
    row.generatorKind = field("generator_kind");
    row.origSize = std::stoull(field("orig_size"));
    row.newSize = std::stoull(field("new_size"));
    row.deltaSize = std::stoull(field("delta_size"));
    row.inplaceCapable = field("inplace_capable") == "yes";
    row.stored = field("files") == "stored";
    rows.push_back(row);
  }
  return rows;
}

std::string DeltaDir(const ManifestRow& row) { return testsupport::TestDataDir() + "jdiff/" + row.caseName + "/"; }

std::string InputDir(const ManifestRow& row) {
  if (row.stored) return DeltaDir(row);
  std::string dir = DELTA_REGEN_DIR;
  // Wine sees the Linux root as drive Z:.
  if (plat::IsWindowsSystem() && !dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir + "/" + row.caseName + "/";
}

Decoded DecodeMemoryFiles(const std::string& orig, const std::string& delta, const std::string& out,
                          uint32_t outputBuffer) {
  Decoded decoded;
  vestrel::CVirtualMemoryStream original;
  vestrel::CVirtualMemoryStream patch;
  vestrel::CVirtualMemoryFileStream output;
  // Small buffers: larger files make the loads grow the blocks.
  original.SetBufferSize(4096);
  patch.SetBufferSize(4096);
  output.SetBufferSize(outputBuffer);
  original.LoadFromFile(orig);
  patch.LoadFromFile(delta);
  output.SetFileName(out);
  decoded.result = CDeltaDecoder().DecodeMemory(original, patch, output, &decoded.written);
  EXPECT_FALSE(output.IsFileOpen()) << "the decoder must close its output";
  ReadOutput(out, &decoded);
  return decoded;
}

Decoded DecodeInPlaceFiles(const std::string& orig, const std::string& delta, const std::string& out) {
  Decoded decoded;
  EXPECT_TRUE(plat::CopyOneFile(orig, out, false));
  plat::SetAttributes(out, plat::kAttrNormal);
  vestrel::CVirtualMemoryStream patch;
  patch.LoadFromFile(delta);
  uint32_t outputSize = 0;
  {
    vestrel::TFileMapStream target(out);
    uint64_t size = 0;
    EXPECT_TRUE(plat::FileSize(out, &size));
    EXPECT_EQ(size != 0, target.IsOpen());
    decoded.result = CDeltaDecoder().DecodeInPlace(target, patch, &outputSize);
  }
  ReadOutput(out, &decoded);
  if (decoded.result == kDeltaOk && outputSize < decoded.output.size()) decoded.output.resize(outputSize);
  decoded.written = outputSize;
  return decoded;
}

Decoded DecodeFileFiles(const std::string& orig, const std::string& delta, const std::string& out) {
  Decoded decoded;
  UniqueFile original(fopen(orig.c_str(), "rb"));
  UniqueFile patch(fopen(delta.c_str(), "rb"));
  UniqueFile output(fopen(out.c_str(), "wb"));
  EXPECT_TRUE(original && patch && output);
  decoded.result = CDeltaDecoder().DecodeFile(original.get(), patch.get(), output.get());
  output.reset();
  ReadOutput(out, &decoded);
  return decoded;
}

Decoded DecodeMemoryBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta,
                          uint32_t outputBuffer) {
  return DecodeMemoryFiles(WriteBytes(dir, "orig", orig), WriteBytes(dir, "delta", delta), dir / "out.memory",
                           outputBuffer);
}

Decoded DecodeInPlaceBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta) {
  return DecodeInPlaceFiles(WriteBytes(dir, "orig", orig), WriteBytes(dir, "delta", delta), dir / "out.inplace");
}

Decoded DecodeFileBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta) {
  return DecodeFileFiles(WriteBytes(dir, "orig", orig), WriteBytes(dir, "delta", delta), dir / "out.file");
}

Bytes Filler(size_t n, uint32_t seed) {
  Bytes bytes(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xA7) b = 0x27;
  }
  return bytes;
}

}  // namespace deltatest
