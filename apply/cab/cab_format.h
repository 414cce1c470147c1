// On-disk structures of the Microsoft Cabinet format: sizes, field offsets
// and flags of the header, folder, file and data-block entries (all
// little-endian), and the data-block checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab {

// Cabinet header (CFHEADER), fixed part.
constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kHeaderSignature = 0x4643534D;  // "MSCF"
constexpr size_t kHeaderOffsetSignature = 0;
constexpr size_t kHeaderOffsetCabinetSize = 8;
constexpr size_t kHeaderOffsetFilesOffset = 16;
constexpr size_t kHeaderOffsetVersion = 24;  // minor byte, then major byte
constexpr size_t kHeaderOffsetFolders = 26;
constexpr size_t kHeaderOffsetFiles = 28;
constexpr size_t kHeaderOffsetFlags = 30;
constexpr size_t kHeaderOffsetSetId = 32;
constexpr size_t kHeaderOffsetCabinetNumber = 34;
constexpr uint16_t kSupportedVersion = 0x0103;

constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

// Reserve sizes that follow the fixed header when kFlagReservePresent is set.
constexpr uint32_t kReserveFieldsSize = 4;

// Folder entry (CFFOLDER), before its reserve bytes.
constexpr uint32_t kFolderEntrySize = 8;

// File entry (CFFILE), before its zero-terminated name.
constexpr uint32_t kFileEntrySize = 16;
constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;
constexpr uint16_t kAttribRunAfterExtract = 0x40;

// Data block (CFDATA), before its reserve bytes and data.
constexpr uint32_t kDataHeaderSize = 8;

// Longest names: file names and the previous/next cabinet and disk names,
// without the terminating zero.
constexpr uint32_t kMaxNameLength = 256;
// Longest cabinet directory kept by FDICopy, without the terminating zero.
constexpr uint32_t kMaxDirectoryLength = 256;

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The published cabinet checksum: little-endian 32-bit words XORed into
// `seed`, then the one to three trailing bytes folded in with the first of
// them highest. A data block's checksum is that of its data, continued over
// the block's two 16-bit size fields.
uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

}  // namespace cab
