// CRC-32 of files (ISO-HDLC / IEEE 802.3 / zlib: reflected polynomial
// 0xEDB88320, initial value and final complement 0xFFFFFFFF), and the CRC
// text "0x%08x" in which the engine stores and compares CRCs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Result of ComputeFileCrc when the object has no table (ERROR_CRC).
constexpr uint32_t kCrcNoTable = 23;
// The text of a CRC that could not be computed.
constexpr const char kCrcUnknownText[] = "0xffffffff";

class CCrc32Dynamic {
 public:
  CCrc32Dynamic() = default;
  virtual ~CCrc32Dynamic() = default;

  // Builds the lookup tables, replacing any the object holds. Entry i of
  // the first table is the remainder of byte i; the others let the update
  // consume 16 bytes per step.
  void BuildTable();
  void ReleaseTable();
  bool HasTable() const { return m_table != nullptr; }

  // CRC of the file's bytes. 0 on success, else a Windows error code (2 for
  // a missing file, the read's error when the file cannot be read to its
  // end, kCrcNoTable without a table); on failure crc is 0.
  uint32_t ComputeFileCrc(const std::string& path, uint32_t& crc) const;

  // Continues a running (not yet complemented) CRC over a buffer.
  uint32_t Update(uint32_t running, const void* data, size_t size) const;

 private:
  std::unique_ptr<uint32_t[]> m_table;  // 16 tables of 256 entries
};

// The CRC-32 of a buffer (complemented, as zlib's crc32(0, ...) gives it).
uint32_t Crc32OfBuffer(const void* data, size_t size);

// "0x%08x" of the file's CRC, or "0xffffffff" when it cannot be computed.
std::string GetFileCrcText(const std::string& path);
