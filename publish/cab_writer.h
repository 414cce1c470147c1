// A Microsoft cabinet writer: one cabinet (format 1.3) of files that come
// from disk or from memory, stored or MSZIP-compressed (deflate through
// zlib, each data block a complete deflate stream whose history is the
// block before it, as the format's readers expect).
//
// Files keep the order they were added in and share one folder until a
// folder's data would need more than 65535 blocks; the next folder then
// starts with the next file. Names are stored as given (client-relative
// paths with '\\' separators). Every file gets the same date, time and
// attributes, and the set ID is 0, so the same input always gives the same
// bytes. A file is read once, in blocks of 32 KiB, while the cabinet is
// written: memory stays small whatever the files' sizes.
//
// Limits of the format, refused with an error text: more than 65535 files,
// a name that is empty, holds a zero byte or is longer than 256 bytes, a
// file larger than one folder can hold (65535 blocks of 32 KiB), a cabinet
// larger than 4 GiB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace publish {

enum class CabCompression { kNone, kMszip };

class CabWriter {
 public:
  // 2020-01-01 12:00:00 in MS-DOS form, and the archive attribute.
  static constexpr uint16_t kDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
  static constexpr uint16_t kTime = 12 << 11;
  static constexpr uint16_t kAttributes = 0x20;
  static constexpr uint32_t kMaxBlock = 32768;
  static constexpr uint32_t kMaxBlocksPerFolder = 0xFFFF;

  // `level` is zlib's compression level (1 fastest .. 9 smallest) for MSZIP.
  explicit CabWriter(CabCompression compression = CabCompression::kNone, int level = 6)
      : compression_(compression), level_(level) {}

  // A file whose bytes are given now; an empty file is allowed.
  void Add(const std::string& name, std::vector<uint8_t> data);
  // A file read from `sourcePath` when the cabinet is written.
  void AddFile(const std::string& name, const std::string& sourcePath);
  size_t FileCount() const { return files_.size(); }

  // Called after every data block with the uncompressed bytes it held.
  void SetProgress(std::function<void(uint64_t)> progress) { progress_ = std::move(progress); }

  // The whole cabinet in memory; empty, with an error text, on failure.
  // A cabinet without files is written (the format and our decoder allow
  // it), though cabextract refuses such a cabinet.
  std::vector<uint8_t> Build(std::string* error = nullptr) const;
  // Writes the cabinet to `path` (engine path). On failure nothing is left
  // at `path` and the error text says why.
  bool WriteTo(const std::string& path, std::string* error = nullptr) const;

  // Where the bytes go (memory or a file); defined with the writer.
  class Sink;

 private:
  struct Entry {
    std::string name;
    std::string sourcePath;      // empty: the bytes are in `data`
    std::vector<uint8_t> data;
  };
  bool Write(Sink& sink, std::string* error) const;

  CabCompression compression_;
  int level_;
  std::vector<Entry> files_;
  std::function<void(uint64_t)> progress_;
};

}  // namespace publish
