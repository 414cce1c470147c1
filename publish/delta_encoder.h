// Our JojoDiff delta encoder: writes the delta ("jpatch") that turns an
// original file into a new one. apply/delta/delta_decoder.h describes the
// format; this side only ever writes a cautious subset of it, so that every
// decoder of the format, ours and others, rebuilds the new file exactly:
//   - an INS or MOD opcode stands before every run of data bytes (no
//     reliance on data being taken as MOD where no opcode says so);
//   - a 0xA7 data byte is doubled where a decoder could take it for the
//     start of an opcode: before a byte in A2..A7 and at the end of a run;
//   - every length takes its shortest form, never the 8-byte one;
//   - MOD data never reaches past the end of the original (INS carries the
//     bytes beyond it), and EQL, DEL and BKT stay inside it.
//
// Two layouts:
//   in place  EQL and MOD only, each byte of the new file against the byte
//             at the same offset of the original. Needs inputs of the same
//             size; the engine's in-place decoder then patches the client
//             file through a mapping, without a copy.
//   general   copies runs found anywhere in the original (EQL, with DEL to
//             skip forward and BKT to go back), replaced bytes as MOD and
//             new bytes as INS, each choice by its encoded cost.
// DeltaEncodeOptions::inPlace chooses between them.
//
// Sizes and memory. Each input may have up to maxFileSize bytes, at most
// kDeltaMaxFileSize (4 GiB - 1: the decoders keep positions and lengths in
// 32 bits). A larger input gives kTooLarge and nothing is written: the
// caller ships the whole file instead. Inputs are never held whole: files
// are read through block caches (cacheBytes for the original, a quarter of
// that for the new file) and the original is indexed in a table of
// indexBytes, so the working memory is about indexBytes + 1.25 x
// cacheBytes + 1 MiB (about 113 MiB by default) whatever the file sizes.
// The index keeps one position in every `stride` of the original, the
// stride growing with its size past indexBytes / 16 positions (2 MiB by
// default): a larger original still gives every shared run of 15 + stride
// bytes or more, and shorter runs where they continue an earlier match.
//
// Threads: the object holds only its options; one may serve any number of
// threads, each call working on its own inputs and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint64_t kDeltaMaxFileSize = 0xFFFFFFFFull;
constexpr uint32_t kDeltaIndexBytes = 32u << 20;
constexpr uint32_t kDeltaCacheBytes = 64u << 20;

enum class DeltaInPlace : uint32_t {
  // Inputs of the same size get the in-place layout unless the general one
  // is markedly smaller (see delta_encoder.cpp, InPlaceAllowance); others the
  // general layout.
  kAuto = 0,
  // The in-place layout or nothing: inputs of different sizes give
  // kNotSameSize.
  kRequire = 1,
  // Always the general layout.
  kNever = 2,
};

struct DeltaEncodeOptions {
  DeltaInPlace inPlace = DeltaInPlace::kAuto;
  uint64_t maxFileSize = kDeltaMaxFileSize;  // larger values count as kDeltaMaxFileSize
  uint32_t indexBytes = kDeltaIndexBytes;    // the original's index; at least 64 KiB is used
  uint32_t cacheBytes = kDeltaCacheBytes;    // file reads; at least 64 KiB is used
};

enum class DeltaEncodeStatus : uint32_t {
  kOk = 0,
  kTooLarge = 1,     // an input is larger than maxFileSize: ship the whole file
  kNotSameSize = 2,  // kRequire, and the inputs differ in size
  kReadFailed = 3,   // an input could not be opened or read
  kWriteFailed = 4,  // the delta could not be written, or its path names an input
  kNoMemory = 5,     // the index or the caches could not be allocated
};

struct DeltaEncodeResult {
  DeltaEncodeStatus status = DeltaEncodeStatus::kOk;
  uint64_t deltaSize = 0;    // bytes of the delta written
  bool inPlace = false;      // EQL and MOD only: the in-place decoder can apply it
  uint32_t systemError = 0;  // plat::LastError() of a failed open, read or write
};

class CDeltaEncoder {
 public:
  explicit CDeltaEncoder(const DeltaEncodeOptions& options = DeltaEncodeOptions());

  // Encodes two files (engine paths) into `delta`. The delta is written
  // beside it as `delta` + ".part" first and moved over `delta` once it is
  // complete; on any failure the part is removed and `delta` is left as it
  // was.
  DeltaEncodeResult EncodeFiles(const std::string& orig, const std::string& newFile, const std::string& delta) const;

  // The same on bytes in memory; the delta replaces the vector's content
  // (it is cleared on failure). The same inputs give the same delta bytes
  // as EncodeFiles.
  DeltaEncodeResult EncodeBytes(const uint8_t* orig, size_t origSize, const uint8_t* newBytes, size_t newSize,
                                std::vector<uint8_t>* delta) const;
  DeltaEncodeResult EncodeBytes(const std::vector<uint8_t>& orig, const std::vector<uint8_t>& newBytes,
                                std::vector<uint8_t>* delta) const {
    return EncodeBytes(orig.data(), orig.size(), newBytes.data(), newBytes.size(), delta);
  }

 private:
  DeltaEncodeOptions options_;
};

// Whether shipping a delta pays against shipping the whole new file: the
// delta must save at least a quarter of the new file's bytes. A smaller
// saving is not worth the decoding step and the whole-file fall-back of a
// client whose file is not the original. An empty new file never needs one.
bool DeltaPays(uint64_t deltaSize, uint64_t newSize);
