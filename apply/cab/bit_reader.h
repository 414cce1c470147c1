// The one bit reader of the cabinet codecs (MSZIP, Quantum, LZX).
//
// Contract
// - Input is one whole compressed data block held in memory: `size` bytes at
//   `data`, followed by kBitReaderPadding bytes that are readable and zero.
//   The reader never touches memory outside [data, data + size + padding).
// - Bits past the end of the block read as zeros, without limit. The reader
//   keeps counting them: Overrun(allowance) is true once more than
//   `allowance` bits beyond the block were consumed. Every decoder calls it
//   at least once per block header and once at the end of each data block;
//   any symbol loop in between is bounded by the output it may produce, so
//   corrupt input ends in a data error, never in an endless loop or a read
//   outside the buffer.
// - Bit orders (the template argument):
//     kLsbFirst   deflate: bytes in order, least significant bit first.
//     kMsbFirst16 LZX: 16-bit little-endian words, most significant bit first.
//     kMsbFirst8  Quantum: bytes in order, most significant bit first.
// - Refill() leaves at least kAvailable bits buffered (56, 49 and 57 for the
//   three orders). Peek(n)/Consume(n)/Read(n) take n <= 32 and need n bits
//   buffered; callers refill between reads so that this holds.
// - Byte mode for stored runs (deflate stored blocks, LZX uncompressed
//   blocks): the decoder aligns, takes BytePosition(), reads raw bytes from
//   Data() with its own bounds checks and resumes bit reading with
//   SetBytePosition(). Alignment is relative to the byte where bit reading
//   last (re)started, as the stream's bytes or words are counted from there.
// - The reader is a small value type; hot loops copy it into a local and
//   copy it back so that its fields stay in registers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cab {

// Zero bytes the owner of the input keeps after the last byte of a block.
constexpr size_t kBitReaderPadding = 8;

enum class BitOrder { kLsbFirst, kMsbFirst16, kMsbFirst8 };

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

template <BitOrder kOrder>
class BitReader {
 public:
  static constexpr unsigned kAvailable =
      kOrder == BitOrder::kLsbFirst ? 56 : (kOrder == BitOrder::kMsbFirst16 ? 49 : 57);

  void Init(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    origin_ = 0;
    pos_ = 0;
    buf_ = 0;
    count_ = 0;
  }

  // Tops the buffer up to at least kAvailable bits.
  inline void Refill() {
    if constexpr (kOrder == BitOrder::kLsbFirst) {
      // Bit i of the buffer is always stream bit (consumed + i); bits above
      // count_ may already hold the next stream bits or zeros, so OR-ing the
      // same bytes in again is harmless.
      const uint64_t v = pos_ + 8 <= size_ + kBitReaderPadding ? LoadLe64(data_ + pos_) : LoadTail();
      buf_ |= v << count_;
      pos_ += (63 - count_) >> 3;
      count_ |= 56;
    } else if constexpr (kOrder == BitOrder::kMsbFirst16) {
      if (count_ > 48) return;
      uint64_t v = pos_ + 8 <= size_ + kBitReaderPadding ? LoadLe64(data_ + pos_) : LoadTail();
      // Four little-endian words, first word to the top.
      v = __builtin_bswap64(v);
      v = ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
      buf_ |= v >> count_;
      const unsigned words = (64 - count_) >> 4;
      pos_ += 2 * words;
      count_ += 16 * words;
    } else {
      if (count_ > 56) return;
      uint64_t v = pos_ + 8 <= size_ + kBitReaderPadding ? LoadLe64(data_ + pos_) : LoadTail();
      v = __builtin_bswap64(v);
      buf_ |= v >> count_;
      const unsigned bytes = (64 - count_) >> 3;
      pos_ += bytes;
      count_ += 8 * bytes;
    }
  }

  inline uint32_t Peek(unsigned n) const {
    if constexpr (kOrder == BitOrder::kLsbFirst) {
      return static_cast<uint32_t>(buf_ & ((uint64_t{1} << n) - 1));
    } else {
      // Two shifts so that n == 0 gives 0 without a shift by 64.
      return static_cast<uint32_t>((buf_ >> (63 - n)) >> 1);
    }
  }

  inline void Consume(unsigned n) {
    if constexpr (kOrder == BitOrder::kLsbFirst) {
      buf_ >>= n;
    } else {
      buf_ <<= n;
    }
    count_ -= n;
  }

  inline uint32_t Read(unsigned n) {
    const uint32_t v = Peek(n);
    Consume(n);
    return v;
  }

  // The raw buffer, for table lookups that peek a fixed width.
  inline uint64_t Buffer() const { return buf_; }
  inline unsigned Buffered() const { return count_; }

  uint64_t BitsConsumed() const { return uint64_t{pos_} * 8 - count_; }
  // Bits consumed since bit reading last (re)started.
  uint64_t BitsSinceRestart() const { return BitsConsumed() - uint64_t{origin_} * 8; }
  size_t RestartPosition() const { return origin_; }
  bool Overrun(unsigned allowanceBits) const { return BitsConsumed() > uint64_t{size_} * 8 + allowanceBits; }

  // Drops bits up to the next multiple of `unit` (8 or 16) bits since the
  // restart; nothing when already there.
  void AlignTo(unsigned unit) {
    const unsigned drop = static_cast<unsigned>((unit - BitsSinceRestart() % unit) % unit);
    if (drop) {
      if (count_ < drop) Refill();
      Consume(drop);
    }
  }

  // Byte position of the next unconsumed bit; only meaningful when aligned.
  size_t BytePosition() const { return static_cast<size_t>(BitsConsumed() / 8); }

  // Restarts bit reading at byte `pos` (may lie past the end: reads zeros).
  void SetBytePosition(size_t pos) {
    origin_ = pos;
    pos_ = pos;
    buf_ = 0;
    count_ = 0;
  }

  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  // The next eight bytes when they reach past the readable area.
  uint64_t LoadTail() const {
    uint64_t v = 0;
    for (unsigned i = 0; i < 8; ++i) {
      const size_t at = pos_ + i;
      if (at < size_) v |= uint64_t{data_[at]} << (8 * i);
    }
    return v;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t origin_ = 0;  // byte where bit reading last (re)started
  size_t pos_ = 0;     // next byte to load (may pass size_: virtual zeros)
  uint64_t buf_ = 0;   // LSB order: next bit at bit 0; MSB orders: at bit 63
  unsigned count_ = 0; // valid bits in buf_
};

}  // namespace cab
