#include "tests/cab/lzx_writer.h"

#include <cstdlib>

namespace cabtest {

namespace {

constexpr uint32_t kFrame = 32768;

uint32_t SlotBase(unsigned slot) {
  uint32_t base = 0;
  for (unsigned s = 0; s < slot; ++s) base += 1u << (s < 4 ? 0 : s / 2 - 1);
  return base;
}

unsigned SlotExtra(unsigned slot) { return slot < 4 ? 0 : slot / 2 - 1; }

}  // namespace

LzxWriter::LzxWriter(int32_t e8FileSize) {
  if (e8FileSize == 0) {
    Bits(0, 1);
  } else {
    Bits(1, 1);
    Bits(static_cast<uint32_t>(e8FileSize) >> 16, 16);
    Bits(static_cast<uint32_t>(e8FileSize) & 0xFFFF, 16);
  }
}

void LzxWriter::Bits(uint32_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    bitBuffer_ = (bitBuffer_ << 1) | ((value >> i) & 1u);
    if (++bitCount_ == 16) {
      current_.push_back(static_cast<uint8_t>(bitBuffer_));
      current_.push_back(static_cast<uint8_t>(bitBuffer_ >> 8));
      bitBuffer_ = 0;
      bitCount_ = 0;
    }
  }
}

void LzxWriter::AlignWord() {
  if (bitCount_) Bits(0, 16 - bitCount_);
}

void LzxWriter::FlushFrame() {
  AlignWord();
  frames_.push_back(current_);
  frameSizes_.push_back(static_cast<uint16_t>(frameOutput_));
  current_.clear();
  frameOutput_ = 0;
}

void LzxWriter::Produced(size_t count) {
  frameOutput_ += static_cast<uint32_t>(count);
  if (frameOutput_ > kFrame) abort();  // a test must not cross a frame end
  if (frameOutput_ == kFrame) FlushFrame();
}

// Pretree: symbols 0-11 in 4 bits, 12-19 in 5 bits (a complete code).
void LzxWriter::Pretree() {
  for (unsigned s = 0; s < 20; ++s) Bits(s < 12 ? 4 : 5, 4);
}

namespace {

// Canonical codes of that pretree.
void PretreeCode(unsigned symbol, uint32_t* code, unsigned* length) {
  if (symbol < 12) {
    *code = symbol;
    *length = 4;
  } else {
    *code = 0x18 + (symbol - 12);
    *length = 5;
  }
}

}  // namespace

void LzxWriter::VerbatimBlock(uint32_t size) {
  Bits(1, 3);
  Bits(size >> 8, 16);
  Bits(size & 0xFF, 8);
  // Every main symbol gets length 9: delta from the previous length.
  const unsigned delta = mainLensSet_ ? 0 : (17 - 9) % 17;
  for (int part = 0; part < 2; ++part) {
    Pretree();
    for (int i = 0; i < 256; ++i) {
      uint32_t code;
      unsigned length;
      PretreeCode(delta, &code, &length);
      Bits(code, length);
    }
  }
  mainLensSet_ = true;
  // The length tree stays empty: 249 times "no change" from 0.
  Pretree();
  for (int i = 0; i < 249; ++i) {
    uint32_t code;
    unsigned length;
    PretreeCode(0, &code, &length);
    Bits(code, length);
  }
}

void LzxWriter::Literal(uint8_t byte) {
  Bits(byte, 9);
  plain_.push_back(byte);
  Produced(1);
}

void LzxWriter::Match(unsigned length, uint32_t offset) {
  const uint32_t formatted = offset + 2;
  unsigned slot = 3;
  while (slot + 1 < 32 && SlotBase(slot + 1) <= formatted) ++slot;
  Bits(256 + slot * 8 + (length - 2), 9);
  Bits(formatted - SlotBase(slot), SlotExtra(slot));
  r_[2] = r_[1];
  r_[1] = r_[0];
  r_[0] = offset;
  Copy(length, offset);
}

void LzxWriter::RepeatMatch(unsigned length, unsigned which) {
  Bits(256 + which * 8 + (length - 2), 9);
  const uint32_t offset = r_[which];
  r_[which] = r_[0];
  r_[0] = offset;
  Copy(length, offset);
}

// What the match produces; a reference before the start (which a decoder
// must refuse) gives zeros here.
void LzxWriter::Copy(unsigned length, uint32_t offset) {
  for (unsigned i = 0; i < length; ++i) {
    plain_.push_back(offset && offset <= plain_.size() ? plain_[plain_.size() - offset] : 0);
  }
  Produced(length);
}

void LzxWriter::UncompressedBlock(const std::vector<uint8_t>& data, uint32_t r0, uint32_t r1, uint32_t r2) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  Bits(3, 3);
  Bits(size >> 8, 16);
  Bits(size & 0xFF, 8);
  if (bitCount_ == 0) {
    Bits(0, 16);  // 1 to 16 bits of alignment, never none
  } else {
    AlignWord();
  }
  for (uint32_t r : {r0, r1, r2}) {
    for (int i = 0; i < 4; ++i) current_.push_back(static_cast<uint8_t>(r >> (8 * i)));
  }
  r_[0] = r0;
  r_[1] = r1;
  r_[2] = r2;
  for (uint8_t byte : data) {
    current_.push_back(byte);
    plain_.push_back(byte);
    Produced(1);
  }
  if (size & 1) current_.push_back(0);
}

CabFolder LzxWriter::Folder() {
  if (frameOutput_ || !current_.empty() || bitCount_) FlushFrame();
  CabFolder folder;
  folder.typeCompress = kTypeCompress;
  for (size_t i = 0; i < frames_.size(); ++i) folder.blocks.push_back(CabBlock{frames_[i], frameSizes_[i]});
  return folder;
}

}  // namespace cabtest
