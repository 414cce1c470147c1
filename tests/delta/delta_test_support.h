// Helpers of the delta decoder tests: the JojoDiff manifest, and each of
// the three decoders run on files or on byte vectors through real streams
// and real files in a temp folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace deltatest {

using Bytes = std::vector<uint8_t>;

// One row of MANIFEST.tsv.
struct ManifestRow {
  std::string caseName;
  std::string variant;
  std::string deltaFile;
  uint64_t origSize = 0;
  uint64_t newSize = 0;
  uint64_t deltaSize = 0;
  bool inplaceCapable = false;
  bool stored = true;  // false: orig and new are rebuilt by the generator
  std::string generatorKind;
};

std::vector<ManifestRow> LoadManifest();

// The folder of a case's delta files (always stored).
std::string DeltaDir(const ManifestRow& row);
// The folder that holds the case's orig and new: the data set itself, or
// the folder the test fixture rebuilt them into.
std::string InputDir(const ManifestRow& row);

// The result of one decode and the output it left (empty when none).
struct Decoded {
  uint32_t result = 0;
  Bytes output;
  bool outputExists = false;
  uint64_t written = 0;  // memory decoder: bytes counted by the stream
};

// Memory decoder through CVirtualMemoryStream loads and a
// CVirtualMemoryFileStream with the given buffer size.
Decoded DecodeMemoryFiles(const std::string& orig, const std::string& delta, const std::string& out,
                          uint32_t outputBuffer);
// In-place decoder on a copy of orig at out, through TFileMapStream. The
// output is the file as left, cut to the length the delta describes.
Decoded DecodeInPlaceFiles(const std::string& orig, const std::string& delta, const std::string& out);
// File decoder over three C-runtime files.
Decoded DecodeFileFiles(const std::string& orig, const std::string& delta, const std::string& out);

// The same three on byte vectors (written to files in `dir` first).
Decoded DecodeMemoryBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta,
                          uint32_t outputBuffer = 4096);
Decoded DecodeInPlaceBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta);
Decoded DecodeFileBytes(const testsupport::TempDir& dir, const Bytes& orig, const Bytes& delta);

// The bytes of a string literal, embedded zeros included (not its
// terminator).
template <size_t N>
Bytes B(const char (&text)[N]) {
  return Bytes(text, text + N - 1);
}
// n deterministic bytes, none of them 0xA7.
Bytes Filler(size_t n, uint32_t seed);

}  // namespace deltatest
