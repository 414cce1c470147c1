#include "tests/support/delta_writer.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace testsupport {

namespace {

// An equal stretch shorter than this inside changed bytes costs less as
// MOD data than as an EQL and a new MOD opcode.
constexpr size_t kMinEqualRun = 8;
// Block matching looks for runs of at least this many bytes, indexing the
// old file every kIndexStride bytes; a shared run of kMatchLength +
// kIndexStride bytes or more is always found.
constexpr size_t kMatchLength = 16;
constexpr size_t kIndexStride = 8;
constexpr uint64_t kMaxOperand = 0xFFFFFFFFu;

size_t CommonLength(const std::vector<uint8_t>& a, size_t at, const std::vector<uint8_t>& b, size_t bt) {
  size_t n = 0;
  while (at + n < a.size() && bt + n < b.size() && a[at + n] == b[bt + n]) ++n;
  return n;
}

uint64_t WindowKey(const uint8_t* p) {
  // FNV-1a over the window: equal windows give equal keys; a collision is
  // caught by comparing the bytes.
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < kMatchLength; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// Emits a run of any length as operand-sized pieces.
template <typename Op>
void InPieces(uint64_t length, Op op) {
  while (length > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(length, kMaxOperand));
    op(piece);
    length -= piece;
  }
}

}  // namespace

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

std::vector<uint8_t> DeltaWriter::SameSize(const std::vector<uint8_t>& oldBytes,
                                           const std::vector<uint8_t>& newBytes) {
  if (oldBytes.size() != newBytes.size()) return BlockMatch(oldBytes, newBytes);
  DeltaWriter writer;
  const size_t n = newBytes.size();
  size_t at = 0;
  while (at < n) {
    size_t equalEnd = at;
    while (equalEnd < n && oldBytes[equalEnd] == newBytes[equalEnd]) ++equalEnd;
    const size_t equal = equalEnd - at;
    if (equal > 0 && (equal >= kMinEqualRun || at == 0 || equalEnd == n)) {
      InPieces(equal, [&](uint32_t piece) { writer.Eql(piece); });
      at = equalEnd;
      continue;
    }
    // A changed stretch ends where a long equal run (or the file) begins.
    size_t end = at;
    while (end < n) {
      if (oldBytes[end] != newBytes[end]) {
        ++end;
        continue;
      }
      size_t runEnd = end;
      while (runEnd < n && oldBytes[runEnd] == newBytes[runEnd]) ++runEnd;
      if (runEnd - end >= kMinEqualRun || runEnd == n) break;
      end = runEnd;
    }
    writer.Mod(newBytes.data() + at, end - at);
    at = end;
  }
  return writer.Take();
}

std::vector<uint8_t> DeltaWriter::PrefixSuffix(const std::vector<uint8_t>& oldBytes,
                                               const std::vector<uint8_t>& newBytes) {
  DeltaWriter writer;
  const size_t prefix = CommonLength(oldBytes, 0, newBytes, 0);
  const size_t limit = std::min(oldBytes.size(), newBytes.size()) - prefix;
  size_t suffix = 0;
  while (suffix < limit && oldBytes[oldBytes.size() - 1 - suffix] == newBytes[newBytes.size() - 1 - suffix]) {
    ++suffix;
  }
  InPieces(prefix, [&](uint32_t piece) { writer.Eql(piece); });
  InPieces(oldBytes.size() - prefix - suffix, [&](uint32_t piece) { writer.Del(piece); });
  writer.Ins(newBytes.data() + prefix, newBytes.size() - prefix - suffix);
  InPieces(suffix, [&](uint32_t piece) { writer.Eql(piece); });
  return writer.Take();
}

std::vector<uint8_t> DeltaWriter::BlockMatch(const std::vector<uint8_t>& oldBytes,
                                             const std::vector<uint8_t>& newBytes) {
  std::unordered_map<uint64_t, size_t> index;  // window key -> first old offset
  if (oldBytes.size() >= kMatchLength) {
    index.reserve(oldBytes.size() / kIndexStride + 1);
    for (size_t at = 0; at + kMatchLength <= oldBytes.size(); at += kIndexStride) {
      index.emplace(WindowKey(oldBytes.data() + at), at);
    }
  }

  DeltaWriter writer;
  size_t position = 0;   // the decoder's position in the old file
  size_t at = 0;         // next byte of the new file to produce
  size_t insertFrom = 0; // new bytes [insertFrom, at) still to be inserted
  auto copyFrom = [&](size_t source, size_t length) {
    writer.Ins(newBytes.data() + insertFrom, at - insertFrom);
    if (source > position) InPieces(source - position, [&](uint32_t piece) { writer.Del(piece); });
    if (source < position) InPieces(position - source, [&](uint32_t piece) { writer.Bkt(piece); });
    InPieces(length, [&](uint32_t piece) { writer.Eql(piece); });
    position = source + length;
    at += length;
    insertFrom = at;
  };

  while (at < newBytes.size()) {
    const size_t straight = CommonLength(oldBytes, position, newBytes, at);
    if (straight >= kMatchLength || (straight > 0 && at + straight == newBytes.size())) {
      copyFrom(position, straight);
      continue;
    }
    if (at + kMatchLength <= newBytes.size()) {
      const auto hit = index.find(WindowKey(newBytes.data() + at));
      if (hit != index.end() &&
          std::memcmp(oldBytes.data() + hit->second, newBytes.data() + at, kMatchLength) == 0) {
        // Grow the match backwards over bytes that were about to be inserted.
        size_t source = hit->second;
        while (source > 0 && at > insertFrom && oldBytes[source - 1] == newBytes[at - 1]) {
          --source;
          --at;
        }
        copyFrom(source, CommonLength(oldBytes, source, newBytes, at));
        continue;
      }
    }
    ++at;
  }
  writer.Ins(newBytes.data() + insertFrom, at - insertFrom);
  return writer.Take();
}

std::vector<uint8_t> DeltaWriter::Encode(const std::vector<uint8_t>& oldBytes,
                                         const std::vector<uint8_t>& newBytes) {
  if (oldBytes.size() == newBytes.size()) return SameSize(oldBytes, newBytes);
  return BlockMatch(oldBytes, newBytes);
}

}  // namespace testsupport
