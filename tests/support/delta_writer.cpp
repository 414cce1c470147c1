#include "tests/support/delta_writer.h"

namespace testsupport {

std::vector<uint8_t> DeltaWriter::EncodeLength(uint32_t length) {
  if (length >= 1 && length <= 252) return {static_cast<uint8_t>(length - 1)};
  if (length >= 253 && length <= 508) return {0xFC, static_cast<uint8_t>(length - 253)};
  if (length <= 0xFFFF) return {0xFD, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  return {0xFE, static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

void DeltaWriter::Opcode(uint8_t opcode) {
  out_.push_back(kEscape);
  out_.push_back(opcode);
  mode_ = opcode;
}

void DeltaWriter::Data(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    out_.push_back(data[i]);
    // A lone escape byte would be read as the start of an opcode.
    if (data[i] == kEscape) out_.push_back(kEscape);
  }
}

void DeltaWriter::Eql(uint32_t length) {
  Opcode(kEql);
  const std::vector<uint8_t> operand = EncodeLength(length);
  out_.insert(out_.end(), operand.begin(), operand.end());
}

void DeltaWriter::Del(uint32_t length) {
  Opcode(kDel);
  const std::vector<uint8_t> operand = EncodeLength(length);
  out_.insert(out_.end(), operand.begin(), operand.end());
}

void DeltaWriter::Bkt(uint32_t length) {
  Opcode(kBkt);
  const std::vector<uint8_t> operand = EncodeLength(length);
  out_.insert(out_.end(), operand.begin(), operand.end());
}

void DeltaWriter::Ins(const uint8_t* data, size_t size) {
  if (size == 0) return;
  if (mode_ != kIns) Opcode(kIns);
  Data(data, size);
}

void DeltaWriter::Mod(const uint8_t* data, size_t size) {
  if (size == 0) return;
  if (mode_ != kMod) Opcode(kMod);
  Data(data, size);
}

uint8_t ShortestLengthForm(uint32_t length) {
  if (length <= 252) return static_cast<uint8_t>(length - 1);
  if (length <= 508) return 252;
  if (length <= 0xFFFF) return 253;
  return 254;
}

StrictDelta ReadStrict(const std::vector<uint8_t>& delta, uint64_t origSize) {
  StrictDelta parsed;
  auto fail = [&](const std::string& what, size_t at) {
    parsed.error = what + " at " + std::to_string(at);
    return parsed;
  };
  uint8_t mode = 0;
  bool emptyRun = false;  // an INS or MOD still waits for its first data byte
  uint64_t position = 0;
  for (size_t at = 0; at < delta.size();) {
    const size_t start = at;
    const uint8_t byte = delta[at++];
    int dataBytes = 1;
    if (byte == DeltaWriter::kEscape) {
      if (at >= delta.size()) return fail("escape at the end", start);
      const uint8_t op = delta[at++];
      if (!jojodiff::IsOpcodeByte(op)) {
        dataBytes = 2;
      } else if (op != DeltaWriter::kEscape) {
        if (emptyRun) return fail("INS or MOD without data", start);
        mode = op;
        ++parsed.ops[op];
        emptyRun = op == DeltaWriter::kIns || op == DeltaWriter::kMod;
        if (emptyRun) continue;
        if (at >= delta.size()) return fail("length missing", start);
        const uint8_t form = delta[at++];
        const size_t extra = form < 252 ? 0 : form == 252 ? 1 : form == 253 ? 2 : form == 254 ? 4 : 8;
        if (at + extra > delta.size()) return fail("length cut short", start);
        uint64_t value = 0;
        for (size_t i = 0; i < extra; ++i) value = (value << 8) | delta[at++];
        if (form < 252) value = form + 1u;
        if (form == 252) value += 253;
        if (form == 255 || value == 0 || form != ShortestLengthForm(static_cast<uint32_t>(value))) {
          return fail("length not in its shortest form", start);
        }
        parsed.lengths.emplace_back(form, static_cast<uint32_t>(value));
        if (op == DeltaWriter::kBkt) {
          if (value > position) return fail("BKT before the start of the original", start);
          position -= value;
        } else {
          if (value > origSize - position) return fail("EQL or DEL past the end of the original", start);
          position += value;
        }
        continue;
      }
    }
    if (mode != DeltaWriter::kIns && mode != DeltaWriter::kMod) return fail("data byte without INS or MOD", start);
    emptyRun = false;
    if (mode == DeltaWriter::kMod) {
      if (static_cast<uint64_t>(dataBytes) > origSize - position) return fail("MOD data past the end of the original", start);
      position += dataBytes;
    }
  }
  if (emptyRun) parsed.error = "INS or MOD without data at the end";
  return parsed;
}

}  // namespace testsupport
