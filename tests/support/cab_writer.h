// A Microsoft cabinet writer for test fixtures: one cabinet (format 1.3),
// one folder stored without compression, every file's data back to back in
// data blocks of at most 32768 bytes, each with its real checksum. Files
// keep the order they were added in; names are stored as given (relative
// paths with '\\' separators). Every file gets the same date, time and
// attributes, so the same input always gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class CabWriter {
 public:
  // 2020-01-01 12:00:00 in MS-DOS form, and the archive attribute.
  static constexpr uint16_t kDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
  static constexpr uint16_t kTime = 12 << 11;
  static constexpr uint16_t kAttributes = 0x20;
  static constexpr uint32_t kMaxBlock = 32768;

  // Adds a file; an empty file is allowed. The name must not be empty and
  // must not hold a zero byte.
  void Add(const std::string& name, std::vector<uint8_t> data);
  size_t FileCount() const { return files_.size(); }

  // The whole cabinet. Empty (and an error text) when it cannot be written:
  // more than 65535 files, a bad name, or data beyond what a cabinet's
  // 32-bit offsets address. A cabinet without files is written (the format
  // and our decoder allow it), though cabextract refuses such a cabinet.
  std::vector<uint8_t> Build(std::string* error = nullptr) const;
  // Build() written to `path`; false on any failure.
  bool WriteTo(const std::string& path, std::string* error = nullptr) const;

  // The checksum of a data block: `payload` followed by the block's two
  // 16-bit size fields, as the format defines it.
  static uint32_t BlockChecksum(const uint8_t* payload, size_t size, uint16_t compressedSize,
                                uint16_t uncompressedSize);

 private:
  struct Entry {
    std::string name;
    std::vector<uint8_t> data;
  };
  std::vector<Entry> files_;
};

}  // namespace testsupport
