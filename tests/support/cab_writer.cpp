#include "tests/support/cab_writer.h"

#include <algorithm>
#include <fstream>
#include <limits>

namespace testsupport {

namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderEntrySize = 8;
constexpr size_t kFileEntryFixedSize = 16;
constexpr size_t kBlockHeaderSize = 8;

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// XOR of the little-endian words; the one to three bytes left over form
// one more value with the first of them as its most significant byte.
uint32_t FoldWords(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t at = 0;
  for (; at + 4 <= size; at += 4) {
    sum ^= static_cast<uint32_t>(data[at]) | (static_cast<uint32_t>(data[at + 1]) << 8) |
           (static_cast<uint32_t>(data[at + 2]) << 16) | (static_cast<uint32_t>(data[at + 3]) << 24);
  }
  uint32_t tail = 0;
  for (; at < size; ++at) tail = (tail << 8) | data[at];
  return sum ^ tail;
}

}  // namespace

uint32_t CabWriter::BlockChecksum(const uint8_t* payload, size_t size, uint16_t compressedSize,
                                  uint16_t uncompressedSize) {
  const uint8_t sizes[4] = {static_cast<uint8_t>(compressedSize), static_cast<uint8_t>(compressedSize >> 8),
                            static_cast<uint8_t>(uncompressedSize), static_cast<uint8_t>(uncompressedSize >> 8)};
  return FoldWords(sizes, sizeof sizes, FoldWords(payload, size, 0));
}

void CabWriter::Add(const std::string& name, std::vector<uint8_t> data) {
  files_.push_back(Entry{name, std::move(data)});
}

std::vector<uint8_t> CabWriter::Build(std::string* error) const {
  if (files_.size() > 0xFFFF) {
    SetError(error, "a cabinet holds at most 65535 files");
    return {};
  }
  uint64_t totalData = 0;
  size_t fileTableSize = 0;
  for (const Entry& file : files_) {
    if (file.name.empty() || file.name.find('\0') != std::string::npos) {
      SetError(error, "a stored name must be non-empty text without zero bytes");
      return {};
    }
    totalData += file.data.size();
    fileTableSize += kFileEntryFixedSize + file.name.size() + 1;
  }
  const uint64_t blockCount = (totalData + kMaxBlock - 1) / kMaxBlock;
  const uint64_t dataStart = kHeaderSize + kFolderEntrySize + fileTableSize;
  const uint64_t cabinetSize = dataStart + blockCount * kBlockHeaderSize + totalData;
  if (blockCount > 0xFFFF || cabinetSize > std::numeric_limits<uint32_t>::max()) {
    SetError(error, "too much data for one folder of one cabinet");
    return {};
  }

  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(cabinetSize));
  // Header: signature, reserved, size, reserved, first file entry, reserved,
  // version 1.3, one folder, the file count, no flags, set 0, cabinet 0.
  out.insert(out.end(), {'M', 'S', 'C', 'F'});
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(cabinetSize));
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(kHeaderSize + kFolderEntrySize));
  PutU32(out, 0);
  out.push_back(3);
  out.push_back(1);
  PutU16(out, 1);
  PutU16(out, static_cast<uint16_t>(files_.size()));
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, 0);

  // The single folder: where its blocks start, how many, type 0 (stored).
  PutU32(out, static_cast<uint32_t>(dataStart));
  PutU16(out, static_cast<uint16_t>(blockCount));
  PutU16(out, 0);

  uint32_t offset = 0;
  for (const Entry& file : files_) {
    PutU32(out, static_cast<uint32_t>(file.data.size()));
    PutU32(out, offset);
    PutU16(out, 0);
    PutU16(out, kDate);
    PutU16(out, kTime);
    PutU16(out, kAttributes);
    out.insert(out.end(), file.name.begin(), file.name.end());
    out.push_back(0);
    offset += static_cast<uint32_t>(file.data.size());
  }

  // The folder's data is one stream cut into blocks, so a file may start
  // in the middle of a block and run over several.
  std::vector<uint8_t> stream;
  stream.reserve(static_cast<size_t>(totalData));
  for (const Entry& file : files_) stream.insert(stream.end(), file.data.begin(), file.data.end());
  for (size_t at = 0; at < stream.size(); at += kMaxBlock) {
    const size_t size = std::min<size_t>(kMaxBlock, stream.size() - at);
    const uint16_t size16 = static_cast<uint16_t>(size);
    PutU32(out, BlockChecksum(stream.data() + at, size, size16, size16));
    PutU16(out, size16);
    PutU16(out, size16);
    out.insert(out.end(), stream.begin() + static_cast<ptrdiff_t>(at),
               stream.begin() + static_cast<ptrdiff_t>(at + size));
  }
  return out;
}

bool CabWriter::WriteTo(const std::string& path, std::string* error) const {
  std::string buildError;
  const std::vector<uint8_t> bytes = Build(&buildError);
  if (!buildError.empty()) {
    SetError(error, buildError);
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

}  // namespace testsupport
