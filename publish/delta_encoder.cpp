#include "publish/delta_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "apply/delta/delta_format.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace {

namespace jd = jojodiff;

constexpr uint32_t kMinBudget = 64u * 1024;   // the least index or cache we work with
constexpr uint32_t kSinkBuffer = 256u * 1024;  // delta bytes gathered before a write
constexpr uint64_t kNone = UINT64_MAX;

// ---------------------------------------------------------------- costs
// What each piece of a delta costs in bytes; the layouts choose by these.

constexpr int64_t kModeCost = 2;  // ESC INS or ESC MOD in front of data

int64_t LengthCost(uint64_t n) {
  return n <= jd::kLenMax1 ? 1 : n <= jd::kLenMax2 ? 2 : n <= jd::kLenMax3 ? 3 : 5;
}

int64_t OpCost(uint64_t n) { return 2 + LengthCost(n); }

// ---------------------------------------------------------------- inputs

// Bytes [start, start + size) of an input, at data.
struct Span {
  const uint8_t* data = nullptr;
  uint64_t start = 0;
  uint64_t size = 0;

  bool Holds(uint64_t offset) const { return offset - start < size; }
  uint8_t operator[](uint64_t offset) const { return data[offset - start]; }
};

// An input read at any offset: a block of memory, or a file read in blocks
// through a cache of fixed size whose slots are reused in clock order. The
// span that At returns stays valid until At is asked for a byte of another
// block of the same input. A read that fails leaves zeros in its block and
// marks the input failed; the layouts stop at their next check.
class Input {
 public:
  Input() = default;
  Input(const uint8_t* data, uint64_t size) : size_(size) { current_ = Span{data, 0, size}; }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  bool OpenFile(const std::string& path) {
    return (file_.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting) &&
            file_.Size(&size_)) ||
           Fail();
  }

  // Sets up the cache of a file whose size passed the checks.
  void SetCache(uint32_t cacheBytes) {
    // Sixteen or more blocks of 4 KiB to 1 MiB: enough slots for the few
    // places that matching reads at a time.
    const uint32_t budget = std::max(cacheBytes, kMinBudget);
    shift_ = std::clamp(static_cast<int>(std::bit_width(budget / 16)) - 1, 12, 20);
    slots_.resize(budget >> shift_);
    slotOf_.assign(static_cast<size_t>((size_ + BlockSize() - 1) >> shift_), -1);
  }

  uint64_t Size() const { return size_; }
  bool Failed() const { return failed_; }
  uint32_t Error() const { return error_; }

  // The span holding `offset`, which must be below Size().
  const Span& At(uint64_t offset) {
    if (!current_.Holds(offset)) Load(offset >> shift_);
    return current_;
  }
  uint8_t Byte(uint64_t offset) { return At(offset)[offset]; }

 private:
  static constexpr uint64_t kNoBlock = UINT64_MAX;

  struct Slot {
    std::vector<uint8_t> bytes;
    uint64_t block = kNoBlock;
    bool referenced = false;
  };

  uint64_t BlockSize() const { return uint64_t{1} << shift_; }

  bool Fail() {
    if (!failed_) error_ = plat::LastError();
    failed_ = true;
    return false;
  }

  void Load(uint64_t block) {
    int32_t slot = slotOf_[block];
    const uint64_t start = block << shift_;
    const uint64_t size = std::min(BlockSize(), size_ - start);
    if (slot < 0) {
      while (slots_[hand_].referenced) {
        slots_[hand_].referenced = false;
        hand_ = (hand_ + 1) % slots_.size();
      }
      Slot& victim = slots_[hand_];
      if (victim.block != kNoBlock) slotOf_[victim.block] = -1;
      victim.bytes.resize(BlockSize());
      victim.block = block;
      uint32_t done = 0;
      if (!file_.Seek(static_cast<int64_t>(start), 0) ||
          !file_.Read(victim.bytes.data(), static_cast<uint32_t>(size), &done) || done != size) {
        if (done != size && !failed_) plat::SetLastError(plat::kErrorHandleEof);
        Fail();
        std::fill(victim.bytes.begin(), victim.bytes.end(), 0);
      }
      slot = static_cast<int32_t>(hand_);
      slotOf_[block] = slot;
      hand_ = (hand_ + 1) % slots_.size();
    }
    slots_[slot].referenced = true;
    current_ = Span{slots_[slot].bytes.data(), start, size};
  }

  uint64_t size_ = 0;
  Span current_;
  bool failed_ = false;
  uint32_t error_ = 0;
  // Files only.
  plat::File file_;
  int shift_ = 63;               // log2 of the block size
  std::vector<Slot> slots_;
  std::vector<int32_t> slotOf_;  // block -> slot, -1 when not held
  size_t hand_ = 0;
};

// How many byte pairs from a[ai] and b[bi] on are equal (kEqual) or all
// differ (!kEqual), up to limit. Eight pairs are looked at in one step.
template <bool kEqual>
uint64_t PairRun(Input& a, uint64_t ai, Input& b, uint64_t bi, uint64_t limit) {
  constexpr uint64_t kLow = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  uint64_t done = 0;
  while (done < limit) {
    const Span& sa = a.At(ai + done);
    const Span& sb = b.At(bi + done);
    const uint8_t* pa = sa.data + (ai + done - sa.start);
    const uint8_t* pb = sb.data + (bi + done - sb.start);
    const uint64_t n = std::min({sa.start + sa.size - (ai + done), sb.start + sb.size - (bi + done), limit - done});
    uint64_t k = 0;
    if constexpr (std::endian::native == std::endian::little) {
      for (; k + 8 <= n; k += 8) {
        uint64_t x = 0;
        uint64_t y = 0;
        memcpy(&x, pa + k, 8);
        memcpy(&y, pb + k, 8);
        // The lowest byte flagged ends the run: a nonzero byte of x ^ y
        // for an equal run, a zero byte for a differing one (whose lowest
        // flag is exact).
        const uint64_t diff = x ^ y;
        const uint64_t end = kEqual ? diff : (diff - kLow) & ~diff & kHigh;
        if (end != 0) return done + k + static_cast<uint64_t>(std::countr_zero(end) / 8);
      }
    }
    while (k < n && (pa[k] == pb[k]) == kEqual) ++k;
    if (k < n) return done + k;
    done += n;
  }
  return done;
}

// The length of the common run of a from ai and b from bi, up to limit.
uint64_t ForwardMatch(Input& a, uint64_t ai, Input& b, uint64_t bi, uint64_t limit) {
  return PairRun<true>(a, ai, b, bi, limit);
}

// How many bytes from a[ai] and b[bi] on differ pairwise, up to limit.
uint64_t DifferingRun(Input& a, uint64_t ai, Input& b, uint64_t bi, uint64_t limit) {
  return PairRun<false>(a, ai, b, bi, limit);
}

// How many bytes before a[ai] and b[bi] are equal, up to limit.
uint64_t BackwardMatch(Input& a, uint64_t ai, Input& b, uint64_t bi, uint64_t limit) {
  uint64_t done = 0;
  while (done < limit && a.Byte(ai - 1 - done) == b.Byte(bi - 1 - done)) ++done;
  return done;
}

// ---------------------------------------------------------------- output

// Where delta bytes go: a vector, a file, or nowhere (to learn what a
// layout would cost, up to a limit past which the answer no longer
// matters). Write errors are kept; both end the encoding at the layouts'
// next check.
class Sink {
 public:
  explicit Sink(uint64_t limit = UINT64_MAX) : buffer_(kSinkBuffer), limit_(limit) {}
  explicit Sink(std::vector<uint8_t>* memory) : Sink() { memory_ = memory; }
  explicit Sink(plat::File* file) : Sink() { file_ = file; }

  void Put(uint8_t byte) {
    buffer_[fill_++] = byte;
    if (fill_ == buffer_.size()) Drain();
  }
  void Put(const uint8_t* bytes, size_t n) {
    while (n > 0) {
      const size_t piece = std::min(n, buffer_.size() - fill_);
      memcpy(buffer_.data() + fill_, bytes, piece);
      fill_ += piece;
      bytes += piece;
      n -= piece;
      if (fill_ == buffer_.size()) Drain();
    }
  }

  uint64_t Count() const { return drained_ + fill_; }
  bool Failed() const { return failed_; }
  bool Stopped() const { return failed_ || drained_ > limit_; }
  uint32_t Error() const { return error_; }

  // Writes out what is buffered; false after any write error.
  bool Finish() {
    Drain();
    return !failed_;
  }

  // Forgets everything written so far.
  void Restart() {
    fill_ = 0;
    drained_ = 0;
    if (memory_ != nullptr) memory_->clear();
    if (file_ != nullptr && !failed_ && !(file_->Seek(0, 0) && file_->Truncate())) Fail();
  }

 private:
  void Drain() {
    if (memory_ != nullptr) memory_->insert(memory_->end(), buffer_.data(), buffer_.data() + fill_);
    if (file_ != nullptr && fill_ > 0 && !failed_) {
      uint32_t done = 0;
      if (!file_->Write(buffer_.data(), static_cast<uint32_t>(fill_), &done) || done != fill_) Fail();
    }
    drained_ += fill_;
    fill_ = 0;
  }

  void Fail() {
    failed_ = true;
    error_ = plat::LastError();
  }

  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  uint64_t drained_ = 0;
  uint64_t limit_;
  std::vector<uint8_t>* memory_ = nullptr;
  plat::File* file_ = nullptr;
  bool failed_ = false;
  uint32_t error_ = 0;
};

// Writes opcodes, lengths and data in the forms the header promises.
class OpWriter {
 public:
  explicit OpWriter(Sink& sink) : sink_(sink) {}

  // EQL, DEL or BKT of n bytes (n > 0).
  void Length(uint8_t op, uint64_t n) {
    if (op != jd::kOpEql) onlyEqlMod_ = false;
    while (n > 0) {
      const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(n, 0xFFFFFFFFu));
      Op(op);
      if (piece <= jd::kLenMax1) {
        Put(piece - 1);
      } else if (piece <= jd::kLenMax2) {
        Put(jd::kLenForm2);
        Put(piece - (jd::kLenMax1 + 1));
      } else if (piece <= jd::kLenMax3) {
        Put(jd::kLenForm3);
        Put(piece >> 8);
        Put(piece);
      } else {
        Put(jd::kLenForm5);
        for (int shift = 24; shift >= 0; shift -= 8) Put(piece >> shift);
      }
      n -= piece;
    }
  }

  // `count` bytes of `from` at `at` as INS or MOD data.
  void Data(uint8_t mode, Input& from, uint64_t at, uint64_t count) {
    if (count == 0) return;
    if (mode != jd::kOpMod) onlyEqlMod_ = false;
    if (mode_ != mode) Op(mode);
    // An escape byte waits for the next one: it stays single only when a
    // byte follows in this run that no decoder takes for an opcode.
    bool escape = false;
    const uint64_t end = at + count;
    while (at < end) {
      const Span& span = from.At(at);
      const uint8_t* p = span.data + (at - span.start);
      const uint8_t* stop = p + (std::min(end, span.start + span.size) - at);
      at += static_cast<uint64_t>(stop - p);
      while (p < stop) {
        if (escape) {
          sink_.Put(jd::kEsc);
          if (jd::IsOpcodeByte(*p)) sink_.Put(jd::kEsc);
          escape = false;
        }
        const void* found = memchr(p, jd::kEsc, static_cast<size_t>(stop - p));
        const uint8_t* next = found != nullptr ? static_cast<const uint8_t*>(found) : stop;
        sink_.Put(p, static_cast<size_t>(next - p));
        p = next;
        if (p < stop) {
          escape = true;
          ++p;
        }
      }
    }
    if (escape) {
      sink_.Put(jd::kEsc);
      sink_.Put(jd::kEsc);
    }
  }

  bool OnlyEqlMod() const { return onlyEqlMod_; }

 private:
  void Op(uint8_t op) {
    sink_.Put(jd::kEsc);
    sink_.Put(op);
    mode_ = op;
  }
  void Put(uint32_t byte) { sink_.Put(static_cast<uint8_t>(byte)); }

  Sink& sink_;
  uint8_t mode_ = 0;  // the last opcode written
  bool onlyEqlMod_ = true;
};

// ---------------------------------------------------------------- index

// A polynomial hash of the last kWindow bytes, updated one byte at a time.
constexpr uint32_t kWindow = 16;

class WindowHash {
 public:
  // The first kWindow bytes of a window.
  void Push(uint8_t in) { value_ = value_ * kBase + in; }
  // Slides the window by one byte.
  void Roll(uint8_t out, uint8_t in) { value_ = (value_ - out * kOutWeight) * kBase + in; }
  uint64_t Value() const { return value_; }

 private:
  static constexpr uint64_t kBase = 0x9E3779B97F4A7C15ull;
  static constexpr uint64_t kOutWeight = [] {
    uint64_t w = 1;
    for (uint32_t i = 1; i < kWindow; ++i) w *= kBase;
    return w;
  }();  // kBase to the power kWindow - 1: the weight of the byte leaving
  uint64_t value_ = 0;
};

// Positions of the original by the hash of the kWindow bytes there: one
// window start in every `stride`, the first one seen per table slot. Each
// entry keeps 32 more bits of its hash beside the position, in the same
// word, so that a lookup costs one memory access and wrong candidates are
// turned away without reading the original. A position found here is
// still only a candidate; the layouts check real bytes.
class OriginalIndex {
 public:
  // False when the original could not be read.
  bool Build(Input& orig, uint32_t indexBytes) {
    const uint64_t n = orig.Size();
    if (n < kWindow) return true;
    const uint64_t windows = n - kWindow + 1;
    const uint64_t capacity = std::bit_floor(uint64_t{std::max(indexBytes, kMinBudget)} / kEntryBytes);
    // At most half the slots in use, so that few windows are lost to a
    // slot already taken.
    const uint64_t stride = (windows + capacity / 2 - 1) / (capacity / 2);
    const uint64_t samples = (windows + stride - 1) / stride;
    const uint64_t slots = std::min(capacity, std::bit_ceil(samples * 2));
    shift_ = 64 - std::countr_zero(slots);
    table_.assign(static_cast<size_t>(slots), 0);

    WindowHash hash;
    uint8_t ring[kWindow];
    uint64_t untilSample = 0;  // window starts to go before the next sample
    uint64_t pos = 0;
    while (pos < n) {
      const Span& span = orig.At(pos);
      const uint64_t stop = span.start + span.size;
      for (; pos < stop; ++pos) {
        const uint8_t byte = span[pos];
        if (pos < kWindow) {
          hash.Push(byte);
        } else {
          hash.Roll(ring[pos % kWindow], byte);
        }
        ring[pos % kWindow] = byte;
        if (pos + 1 < kWindow) continue;
        if (untilSample == 0) {
          const uint64_t mixed = Mix(hash.Value());
          uint64_t& entry = table_[static_cast<size_t>(mixed >> shift_)];
          // Window starts stay below 2^32 - kWindow, so + 1 fits.
          if (entry == 0) entry = (mixed << 32) | (pos + 1 - kWindow + 1);
          untilSample = stride;
        }
        --untilSample;
      }
      if (orig.Failed()) return false;
    }
    return true;
  }

  // The top bits choose the slot; the low half is kept as the check.
  static uint64_t Mix(uint64_t hash) { return hash * 0xD6E8FEB86659FD93ull; }

  // Starts fetching the slot of a mixed hash, for a Find soon after.
  void Prefetch(uint64_t mixed) const {
    if (!table_.empty()) __builtin_prefetch(&table_[static_cast<size_t>(mixed >> shift_)]);
  }

  // A window start whose mixed hash may be `mixed`, or kNone.
  uint64_t Find(uint64_t mixed) const {
    if (table_.empty()) return kNone;
    const uint64_t entry = table_[static_cast<size_t>(mixed >> shift_)];
    if (entry == 0 || (entry >> 32) != (mixed & 0xFFFFFFFFu)) return kNone;
    return (entry & 0xFFFFFFFFu) - 1;
  }

 private:
  static constexpr uint32_t kEntryBytes = sizeof(uint64_t);

  std::vector<uint64_t> table_;  // check << 32 | (window start + 1); 0 when empty
  int shift_ = 64;
};

// The index candidates of successive windows of the new file. Each
// window's hash is taken kAhead windows early and its slot fetched then,
// so that scanning new data does not wait on the table's memory at every
// byte.
class IndexedWindows {
 public:
  IndexedWindows(Input& next, const OriginalIndex& index) : next_(next), index_(index) {}

  // Makes `at` the current window; at + kWindow must not pass the end.
  void Start(uint64_t at) {
    WindowHash hash;
    for (uint64_t k = 0; k < kWindow; ++k) {
      ring_[(at + k) % kWindow] = next_.Byte(at + k);
      hash.Push(ring_[(at + k) % kWindow]);
    }
    hash_ = hash;
    current_ = at;
    front_ = at;
    Keep();
    while (front_ + 1 < at + kAhead && Step()) {
    }
  }

  // The candidate of the current window (kNone near the end of the file),
  // and the step to the next window.
  uint64_t Candidate() const { return current_ <= front_ ? index_.Find(mixed_[current_ % kAhead]) : kNone; }
  void Advance() {
    ++current_;
    Step();
  }

 private:
  static constexpr uint64_t kAhead = 16;

  // Hashes the window after the front one, if the file holds it.
  bool Step() {
    if (front_ + 1 + kWindow > next_.Size()) return false;
    const uint8_t in = next_.Byte(front_ + kWindow);
    hash_.Roll(ring_[front_ % kWindow], in);
    ring_[front_ % kWindow] = in;
    ++front_;
    Keep();
    return true;
  }
  void Keep() {
    const uint64_t mixed = OriginalIndex::Mix(hash_.Value());
    mixed_[front_ % kAhead] = mixed;
    index_.Prefetch(mixed);
  }

  Input& next_;
  const OriginalIndex& index_;
  WindowHash hash_;
  uint8_t ring_[kWindow] = {};    // the front window's bytes, next_[j] at j % kWindow
  uint64_t mixed_[kAhead] = {};   // mixed hashes of windows current_ .. front_, by start % kAhead
  uint64_t current_ = 0;
  uint64_t front_ = 0;            // the last window hashed
};

// ---------------------------------------------------------------- layouts

class Layout {
 public:
  Layout(Input& orig, Input& next, Sink& sink, OpWriter& out) : orig_(orig), next_(next), sink_(sink), out_(out) {}

 protected:
  bool Stopped() const { return orig_.Failed() || next_.Failed() || sink_.Stopped(); }

  Input& orig_;
  Input& next_;
  Sink& sink_;
  OpWriter& out_;
};

// EQL and MOD only, byte against byte at the same offset. Each equal run
// between changed bytes is either copied (EQL, and a new MOD opcode after
// it) or written as MOD data, whichever costs less; every choice is
// independent of the others, so the result is the smallest delta of this
// layout.
class InPlaceLayout : public Layout {
 public:
  using Layout::Layout;

  void Run() {
    const uint64_t n = next_.Size();  // the same as the original's
    uint64_t i = 0;
    uint64_t dataFrom = kNone;  // start of the MOD data not yet written
    while (i < n && !Stopped()) {
      const uint64_t equal = ForwardMatch(orig_, i, next_, i, n - i);
      if (equal > 0) {
        const bool last = i + equal == n;
        const int64_t copy = OpCost(equal) + (dataFrom != kNone && !last ? kModeCost : 0);
        const bool asData = dataFrom == kNone ? !last && DataCost(i, equal) < copy : DataCost(i, equal) <= copy;
        if (asData) {
          if (dataFrom == kNone) dataFrom = i;
        } else {
          if (dataFrom != kNone) out_.Data(jd::kOpMod, next_, dataFrom, i - dataFrom);
          dataFrom = kNone;
          out_.Length(jd::kOpEql, equal);
        }
        i += equal;
        if (i == n) break;
      }
      if (dataFrom == kNone) dataFrom = i;
      i += DifferingRun(orig_, i, next_, i, n - i);
    }
    if (dataFrom != kNone && !Stopped()) out_.Data(jd::kOpMod, next_, dataFrom, n - dataFrom);
  }

 private:
  // The bytes that `count` new bytes at `at` take as data, counting each
  // escape byte twice; only short runs are looked at, as longer ones always
  // cost more than a copy.
  int64_t DataCost(uint64_t at, uint64_t count) {
    if (count > 16) return static_cast<int64_t>(count);
    int64_t cost = static_cast<int64_t>(count);
    for (uint64_t k = 0; k < count; ++k) cost += next_.Byte(at + k) == jd::kEsc ? 1 : 0;
    return cost;
  }
};

// Copies from anywhere in the original. The new file is scanned once; at
// each position not yet written the candidates are the original position
// that continues the last copy (after the pending bytes as MOD or as INS)
// and the indexed position with the same window hash. Each is checked
// against the real bytes, grown forwards and backwards over pending bytes,
// and priced: a copy is taken as soon as it saves more than its opcodes
// and the moves to reach it cost. Pending bytes become MOD data where they
// replace original bytes on the way and INS data where they do not.
class GeneralLayout : public Layout {
 public:
  GeneralLayout(Input& orig, Input& next, Sink& sink, OpWriter& out, const OriginalIndex& index)
      : Layout(orig, next, sink, out), index_(index) {}

  void Run() {
    const uint64_t m = next_.Size();
    IndexedWindows windows(next_, index_);
    bool started = false;  // windows is at i
    uint64_t i = 0;
    while (i < m && !Stopped()) {
      const uint64_t pending = i - written_;
      const uint64_t continued = position_ + pending;  // after the pending bytes as MOD
      Match best;
      if (continued < orig_.Size()) Consider(continued, i, &best);
      if (pending > 0 && position_ < orig_.Size()) Consider(position_, i, &best);
      if (i + kWindow <= m) {
        if (!started) windows.Start(i);
        started = true;
        const uint64_t indexed = windows.Candidate();
        if (indexed != kNone && indexed != continued && indexed != position_) Consider(indexed, i, &best);
      }
      if (best.gain > 0) {
        Take(best);
        i = written_;
        started = false;
        continue;
      }
      if (started) windows.Advance();
      ++i;
    }
    if (Stopped() || written_ == m) return;
    // The rest is new: MOD as far as the original goes, INS beyond.
    const uint64_t rest = m - written_;
    const uint64_t replaced = std::min(rest, orig_.Size() - std::min(position_, orig_.Size()));
    out_.Data(jd::kOpMod, next_, written_, replaced);
    out_.Data(jd::kOpIns, next_, written_ + replaced, rest - replaced);
  }

 private:
  struct Match {
    uint64_t orig = 0;    // where the copy starts in the original
    uint64_t at = 0;      // and in the new file
    uint64_t length = 0;
    int64_t gain = 0;     // bytes saved against writing them as data
  };

  void Consider(uint64_t from, uint64_t i, Match* best) {
    if (orig_.Byte(from) != next_.Byte(i)) return;
    const uint64_t ahead = ForwardMatch(orig_, from, next_, i, std::min(orig_.Size() - from, next_.Size() - i));
    const uint64_t behind = BackwardMatch(orig_, from, next_, i, std::min(from, i - written_));
    Match match{from - behind, i - behind, behind + ahead, 0};
    const bool last = match.at + match.length == next_.Size();
    match.gain = static_cast<int64_t>(match.length) - Overhead(match.at - written_, match.orig) - OpCost(match.length) -
                 (last ? 0 : kModeCost);
    if (match.gain > best->gain) *best = match;
  }

  // The opcodes that Emit writes for `count` pending bytes and the move to
  // `target`.
  int64_t Overhead(uint64_t count, uint64_t target) const {
    const uint64_t p = position_;
    if (count == 0) return target == p ? 0 : OpCost(target > p ? target - p : p - target);
    if (target == p + count || target == p) return kModeCost;
    if (target > p && target < p + count) return 2 * kModeCost;
    if (target > p) return kModeCost + OpCost(target - p - count);
    return kModeCost + OpCost(p - target);
  }

  // Writes the pending bytes up to `end` and moves the original position
  // to `target`, in the cheapest way of those Overhead prices.
  void Emit(uint64_t end, uint64_t target) {
    const uint64_t count = end - written_;
    const uint64_t p = position_;
    if (count == 0) {
      if (target > p) out_.Length(jd::kOpDel, target - p);
      if (target < p) out_.Length(jd::kOpBkt, p - target);
    } else if (target == p + count) {
      out_.Data(jd::kOpMod, next_, written_, count);
    } else if (target == p) {
      out_.Data(jd::kOpIns, next_, written_, count);
    } else if (target > p && target < p + count) {
      out_.Data(jd::kOpMod, next_, written_, target - p);
      out_.Data(jd::kOpIns, next_, written_ + (target - p), count - (target - p));
    } else if (target > p) {
      out_.Data(jd::kOpMod, next_, written_, count);
      out_.Length(jd::kOpDel, target - p - count);
    } else {
      out_.Data(jd::kOpIns, next_, written_, count);
      out_.Length(jd::kOpBkt, p - target);
    }
    written_ = end;
    position_ = target;
  }

  void Take(const Match& match) {
    Emit(match.at, match.orig);
    out_.Length(jd::kOpEql, match.length);
    position_ = match.orig + match.length;
    written_ = match.at + match.length;
  }

  const OriginalIndex& index_;
  uint64_t position_ = 0;  // the decoder's position in the original
  uint64_t written_ = 0;   // new bytes before this are in the delta
};

// How large the in-place layout may be and still be preferred to a general
// delta of `generalSize`: it saves the client a copy of the whole file, so
// up to a quarter more (and 64 bytes, for small files).
uint64_t InPlaceAllowance(uint64_t generalSize) { return generalSize + generalSize / 4 + 64; }

DeltaEncodeStatus CheckSizes(const Input& orig, const Input& next, const DeltaEncodeOptions& options) {
  const uint64_t limit = std::min(options.maxFileSize, kDeltaMaxFileSize);
  if (orig.Size() > limit || next.Size() > limit) return DeltaEncodeStatus::kTooLarge;
  if (options.inPlace == DeltaInPlace::kRequire && orig.Size() != next.Size()) return DeltaEncodeStatus::kNotSameSize;
  return DeltaEncodeStatus::kOk;
}

// Encodes inputs that passed CheckSizes into the sink.
DeltaEncodeResult Encode(Input& orig, Input& next, Sink& sink, const DeltaEncodeOptions& options) {
  DeltaEncodeResult result;
  try {
    bool inPlace = options.inPlace == DeltaInPlace::kRequire;
    if (!inPlace) {
      OriginalIndex index;
      OpWriter out(sink);
      if (index.Build(orig, options.indexBytes)) GeneralLayout(orig, next, sink, out, index).Run();
      result.inPlace = out.OnlyEqlMod();
      if (options.inPlace == DeltaInPlace::kAuto && orig.Size() == next.Size() && !result.inPlace &&
          !orig.Failed() && !next.Failed()) {
        const uint64_t allowance = InPlaceAllowance(sink.Count());
        Sink counter(allowance);
        OpWriter trial(counter);
        InPlaceLayout(orig, next, counter, trial).Run();
        inPlace = counter.Count() <= allowance;
      }
    }
    if (inPlace) {
      sink.Restart();
      OpWriter out(sink);
      InPlaceLayout(orig, next, sink, out).Run();
      result.inPlace = true;
    }
  } catch (const std::bad_alloc&) {
    result.status = DeltaEncodeStatus::kNoMemory;
    result.systemError = plat::kErrorNotEnoughMemory;
    return result;
  }
  if (orig.Failed() || next.Failed()) {
    result.status = DeltaEncodeStatus::kReadFailed;
    result.systemError = orig.Failed() ? orig.Error() : next.Error();
  } else if (!sink.Finish()) {
    result.status = DeltaEncodeStatus::kWriteFailed;
    result.systemError = sink.Error();
  }
  result.deltaSize = sink.Count();
  return result;
}

DeltaEncodeResult Failure(DeltaEncodeStatus status, uint32_t systemError) {
  DeltaEncodeResult result;
  result.status = status;
  result.systemError = systemError;
  return result;
}

}  // namespace

CDeltaEncoder::CDeltaEncoder(const DeltaEncodeOptions& options) : options_(options) {}

DeltaEncodeResult CDeltaEncoder::EncodeFiles(const std::string& orig, const std::string& newFile,
                                             const std::string& delta) const {
  const std::string part = delta + ".part";
  for (const std::string* input : {&orig, &newFile}) {
    const std::string native = plat::ToNativePath(*input);
    if (native == plat::ToNativePath(delta) || native == plat::ToNativePath(part)) {
      return Failure(DeltaEncodeStatus::kWriteFailed, plat::kErrorInvalidParameter);
    }
  }
  try {
    Input original;
    Input next;
    if (!original.OpenFile(orig)) return Failure(DeltaEncodeStatus::kReadFailed, original.Error());
    if (!next.OpenFile(newFile)) return Failure(DeltaEncodeStatus::kReadFailed, next.Error());
    const DeltaEncodeStatus sizes = CheckSizes(original, next, options_);
    if (sizes != DeltaEncodeStatus::kOk) return Failure(sizes, 0);
    original.SetCache(options_.cacheBytes);
    next.SetCache(options_.cacheBytes / 4);

    DeltaEncodeResult result;
    {
      plat::File file;
      if (!file.Open(part, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways)) {
        return Failure(DeltaEncodeStatus::kWriteFailed, plat::LastError());
      }
      Sink sink(&file);
      result = Encode(original, next, sink, options_);
    }
    if (result.status == DeltaEncodeStatus::kOk && !plat::MoveReplace(part, delta)) {
      result = Failure(DeltaEncodeStatus::kWriteFailed, plat::LastError());
    }
    if (result.status != DeltaEncodeStatus::kOk) plat::RemoveFile(part);
    return result;
  } catch (const std::bad_alloc&) {
    plat::RemoveFile(part);
    return Failure(DeltaEncodeStatus::kNoMemory, plat::kErrorNotEnoughMemory);
  }
}

DeltaEncodeResult CDeltaEncoder::EncodeBytes(const uint8_t* orig, size_t origSize, const uint8_t* newBytes,
                                             size_t newSize, std::vector<uint8_t>* delta) const {
  delta->clear();
  Input original(orig, origSize);
  Input next(newBytes, newSize);
  const DeltaEncodeStatus sizes = CheckSizes(original, next, options_);
  if (sizes != DeltaEncodeStatus::kOk) return Failure(sizes, 0);
  DeltaEncodeResult result;
  try {
    Sink sink(delta);
    result = Encode(original, next, sink, options_);
  } catch (const std::bad_alloc&) {
    result = Failure(DeltaEncodeStatus::kNoMemory, plat::kErrorNotEnoughMemory);
  }
  if (result.status != DeltaEncodeStatus::kOk) delta->clear();
  return result;
}

bool DeltaPays(uint64_t deltaSize, uint64_t newSize) { return newSize > 0 && deltaSize <= newSize - newSize / 4; }
