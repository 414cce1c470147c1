// The delta decoder: rebuilds a file from its original and a JojoDiff
// delta ("jpatch"), in one of three ways that share one format.
//
// Format. A delta is a sequence of data bytes and opcodes with no header
// and no end marker. An opcode is the escape byte 0xA7 and one of
//   A2 BKT n  move the original position back n bytes
//   A3 EQL n  copy n bytes of the original to the output, position += n
//   A4 DEL n  skip n bytes of the original, position += n
//   A5 INS    following data bytes are inserted into the output
//   A6 MOD    following data bytes replace original bytes: each goes to the
//             output and the position advances by one, never past the end
// A7 A7 is one data byte 0xA7; 0xA7 followed by any byte outside A2..A7 is
// two data bytes. Data bytes with no opcode before them, at the start of a
// delta or after EQL, DEL or BKT, are MOD data: the published encoder
// writes MOD only after INS and relies on this. A length n is one byte
// b < 252 (n = b + 1), or 252 and one byte (n = byte + 253), or 253, 254,
// 255 followed by 2, 4, 8 big-endian bytes (n = their value).
//
// Decoders.
//   DecodeMemory   original and delta in memory, output through the write
//                  buffer of a CVirtualMemoryFileStream (the common case).
//                  Long EQL runs go to the file straight from the original's
//                  memory, which is only read: a read-only mapping serves.
//                  The whole delta is checked against the original before
//                  the first byte is written, so a delta that fails the
//                  checks below never creates or truncates the output file.
//   DecodeInPlace  changes a mapped file (or any writable block) in place;
//                  only for deltas with nothing but EQL and MOD
//                  (CanPatchInPlace). Also checks the whole delta first, so
//                  a refused delta leaves the file untouched.
//   DecodeFile     three C-runtime files, byte by byte; the fallback when no
//                  memory could be had. Its output is complete only when it
//                  returns kDeltaOk: a caller must not put a failed output
//                  in place of the original.
//
// Results (0 is success; the codes continue the patch application codes
// and fall in the range that the launcher reports as a failed update):
//   kDeltaSeekFailed     14  file decoder: the original could not be
//                            positioned or read
//   kDeltaMalformed      15  the delta ends inside an opcode or a length,
//                            cannot be read, gives a length beyond 32 bits,
//                            uses the 8-byte length form in the memory or
//                            in-place decoder, or (in place) holds INS, DEL
//                            or BKT
//   kDeltaOutOfRange     16  the delta asks for bytes outside the original
//                            (EQL or DEL past its end, BKT before its start)
//                            or, in place, would store past the file's end
//   kDeltaOutputFailed   17  the output could not be opened or written
// Every failure writes one level-8 line to the patch log, naming the decoder,
// the result and the delta offset.
//
// The object has no state; one may serve any number of threads.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vestrel {
class CVirtualMemoryStream;
class CVirtualMemoryFileStream;
class TFileMapStream;
}  // namespace vestrel

constexpr uint32_t kDeltaOk = 0;
constexpr uint32_t kDeltaSeekFailed = 14;
constexpr uint32_t kDeltaMalformed = 15;
constexpr uint32_t kDeltaOutOfRange = 16;
constexpr uint32_t kDeltaOutputFailed = 17;

class CDeltaDecoder {
 public:
  // Decodes the loaded delta against the loaded original into `output`,
  // whose block and file name the caller has set. Flushes and closes the
  // output at the end. `written` (may be null) receives the bytes written,
  // flushed plus buffered, also on failure.
  uint32_t DecodeMemory(const vestrel::CVirtualMemoryStream& original, const vestrel::CVirtualMemoryStream& delta,
                        vestrel::CVirtualMemoryFileStream& output, uint64_t* written) const;
  uint32_t DecodeMemory(const uint8_t* original, uint32_t originalSize, const uint8_t* delta, uint32_t deltaSize,
                        vestrel::CVirtualMemoryFileStream& output, uint64_t* written) const;

  // Applies the delta to the mapped file. The file's length never changes;
  // `outputSize` (may be null) receives the length of the output that the
  // delta describes, which is shorter than the file when the new file is a
  // truncation of it. A stream that is not open counts as an empty file.
  uint32_t DecodeInPlace(vestrel::TFileMapStream& target, const vestrel::CVirtualMemoryStream& delta,
                         uint32_t* outputSize = nullptr) const;
  uint32_t DecodeInPlace(uint8_t* data, uint32_t size, const uint8_t* delta, uint32_t deltaSize,
                         uint32_t* outputSize = nullptr) const;

  // Reads the original (seekable) and the delta from their current
  // positions and writes the output; flushes the output but does not close
  // any of the files. Writes "JPATCH START" to the patch log (level 64).
  uint32_t DecodeFile(FILE* original, FILE* delta, FILE* output) const;

  // 1 when the delta is well formed for the in-place decoder (only EQL and
  // MOD, no 8-byte lengths), also for an empty delta; 0 otherwise. Lengths
  // are skipped as lengths, so their bytes are never taken for opcodes.
  int CanPatchInPlace(const vestrel::CVirtualMemoryStream& delta) const;
  int CanPatchInPlace(const uint8_t* delta, uint32_t deltaSize) const;
};
