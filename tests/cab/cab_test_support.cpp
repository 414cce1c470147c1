#include "tests/cab/cab_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "apply/cab/cab_format.h"
#include "download/crc32.h"
#include "tests/support/test_support.h"

namespace cabtest {

// ---------------------------------------------------------------- fake I/O

FakeIo& FakeIo::Get() {
  static FakeIo io;
  return io;
}

void FakeIo::Reset() {
  *this = FakeIo();
}

void FakeIo::AddFile(const std::string& path, std::vector<uint8_t> bytes) { files_[path] = std::move(bytes); }

bool FakeIo::HasOutput(const std::string& path) const {
  for (const Output& o : outputs) {
    if (o.path == path) return true;
  }
  return false;
}

const std::vector<uint8_t>& FakeIo::OutputData(const std::string& path) const {
  static const std::vector<uint8_t> kNone;
  for (const Output& o : outputs) {
    if (o.path == path) return o.data;
  }
  return kNone;
}

void* FakeIo::Alloc(uint32_t size) {
  FakeIo& io = Get();
  ++io.allocCalls;
  if (io.failAllocAt && io.allocCalls == io.failAllocAt) return nullptr;
  void* block = malloc(size ? size : 1);
  if (block) ++io.liveBlocks;
  return block;
}

void FakeIo::Free(void* block) {
  if (!block) return;
  --Get().liveBlocks;
  free(block);
}

intptr_t FakeIo::Open(const char* path, int oflag, int /*pmode*/) {
  FakeIo& io = Get();
  ++io.openCalls;
  if (io.failOpenAt && io.openCalls == io.failOpenAt) return -1;
  Handle handle;
  handle.path = path;
  if (oflag & 0x0100) {  // create: an output
    handle.output = true;
    handle.outputIndex = io.outputs.size();
    Output out;
    out.path = path;
    io.outputs.push_back(out);
  } else if (!io.files_.count(path)) {
    return -1;
  }
  const intptr_t hf = io.nextHandle_++;
  io.handles_[hf] = handle;
  ++io.openHandles;
  return hf;
}

uint32_t FakeIo::Read(intptr_t hf, void* buffer, uint32_t count) {
  FakeIo& io = Get();
  ++io.readCalls;
  if (io.failReadAt && io.readCalls == io.failReadAt) return 0xFFFFFFFFu;
  auto it = io.handles_.find(hf);
  if (it == io.handles_.end() || it->second.output) return 0xFFFFFFFFu;
  const std::vector<uint8_t>& bytes = io.files_[it->second.path];
  const uint32_t position = it->second.position;
  uint32_t n = position < bytes.size() ? static_cast<uint32_t>(bytes.size() - position) : 0;
  if (n > count) n = count;
  if (io.maxReadChunk && n > io.maxReadChunk) n = io.maxReadChunk;
  if (n) memcpy(buffer, bytes.data() + position, n);
  it->second.position += n;
  return n;
}

uint32_t FakeIo::Write(intptr_t hf, const void* buffer, uint32_t count) {
  FakeIo& io = Get();
  ++io.writeCalls;
  if (io.failWriteAt && io.writeCalls == io.failWriteAt) {
    if (!io.shortWriteInsteadOfFail || count == 0) return 0xFFFFFFFFu;
    count -= 1;
  }
  auto it = io.handles_.find(hf);
  if (it == io.handles_.end() || !it->second.output) return 0xFFFFFFFFu;
  std::vector<uint8_t>& data = io.outputs[it->second.outputIndex].data;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  data.insert(data.end(), p, p + count);
  return count;
}

int FakeIo::Close(intptr_t hf) {
  FakeIo& io = Get();
  ++io.closeCalls;
  auto it = io.handles_.find(hf);
  if (it == io.handles_.end()) {
    ++io.badCloses;
    return -1;
  }
  if (it->second.output) io.outputs[it->second.outputIndex].closed = true;
  io.handles_.erase(it);
  --io.openHandles;
  return 0;
}

int32_t FakeIo::Seek(intptr_t hf, int32_t distance, int origin) {
  FakeIo& io = Get();
  ++io.seekCalls;
  if (io.failSeekAt && io.seekCalls == io.failSeekAt) return -1;
  auto it = io.handles_.find(hf);
  if (it == io.handles_.end()) return -1;
  int64_t base = 0;
  if (origin == 1) base = it->second.position;
  if (origin == 2) base = static_cast<int64_t>(io.files_[it->second.path].size());
  const int64_t target = base + distance;
  if (target < 0 || target > INT32_MAX) return -1;
  it->second.position = static_cast<uint32_t>(target);
  return static_cast<int32_t>(target);
}

HFDI CreateFakeContext(ERF* erf) {
  return FDICreate(FakeIo::Alloc, FakeIo::Free, FakeIo::Open, FakeIo::Read, FakeIo::Write, FakeIo::Close,
                   FakeIo::Seek, cpuUNKNOWN, erf);
}

// ---------------------------------------------------------------- notifications

intptr_t CollectorNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  Collector* c = static_cast<Collector*>(note->pv);
  Event e;
  e.type = type;
  e.cb = note->cb;
  e.psz1 = note->psz1 ? note->psz1 : "";
  e.psz2 = note->psz2 ? note->psz2 : "";
  e.psz3 = note->psz3 ? note->psz3 : "";
  e.hf = note->hf;
  e.date = note->date;
  e.time = note->time;
  e.attribs = note->attribs;
  e.setID = note->setID;
  e.iCabinet = note->iCabinet;
  e.iFolder = note->iFolder;
  e.fdie = note->fdie;
  c->events.push_back(e);
  switch (type) {
    case fdintCABINET_INFO:
      return c->answerCabinetInfo;
    case fdintENUMERATE:
      return c->answerEnumerate;
    case fdintPARTIAL_FILE:
      return c->answerPartial;
    case fdintNEXT_CABINET:
      if (!c->nextCabinetDirectory.empty() && note->psz3) {
        snprintf(note->psz3, 257, "%s", c->nextCabinetDirectory.c_str());
      }
      return c->answerNextCabinet;
    case fdintCOPY_FILE: {
      ++c->copies;
      if (c->abortAtCopy && c->copies == c->abortAtCopy) return -1;
      if (c->skipAll) return 0;
      ExtractedFile f;
      f.name = e.psz1;
      f.size = static_cast<uint32_t>(note->cb);
      f.folder = note->iFolder;
      f.outputPath = "out/" + std::to_string(FakeIo::Get().outputs.size());
      c->files.push_back(f);
      return FakeIo::Open(f.outputPath.c_str(), 0x8321, 0x180);
    }
    case fdintCLOSE_FILE_INFO: {
      FakeIo& io = FakeIo::Get();
      if (!c->files.empty()) {
        ExtractedFile& f = c->files.back();
        f.attribs = note->attribs;
        f.data = io.OutputData(f.outputPath);
        f.closed = true;
      }
      FakeIo::Close(note->hf);
      return c->answerClose;
    }
  }
  return 0;
}

CopyRun RunCopy(const std::string& name, const std::string& directory, Collector collector) {
  CopyRun run;
  run.collector = std::move(collector);
  HFDI hfdi = CreateFakeContext(&run.erf);
  if (!hfdi) return run;
  run.result = FDICopy(hfdi, name.c_str(), directory.c_str(), 0, CollectorNotify, nullptr, &run.collector);
  FDIDestroy(hfdi);
  return run;
}

// ---------------------------------------------------------------- test data

std::string CabDataDir() { return testsupport::TestDataDir() + "cab/"; }

std::vector<uint8_t> ReadCabData(const std::string& name) { return testsupport::ReadFileBytes(CabDataDir() + name); }

namespace {

std::vector<std::vector<std::string>> ReadTable(const std::string& file) {
  return testsupport::ReadTsv(CabDataDir() + file);
}

}  // namespace

std::string DecodeStoredName(const std::string& escaped) {
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%' && i + 2 < escaped.size()) {
      out += static_cast<char>(strtoul(escaped.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += escaped[i];
    }
  }
  return out;
}

std::vector<ManifestRow> LoadManifest() {
  std::vector<ManifestRow> rows;
  for (const auto& f : ReadTable("MANIFEST.tsv")) {
    if (f.size() < 8) continue;
    ManifestRow r;
    r.cabinet = f[0];
    r.storedName = DecodeStoredName(f[1]);
    r.size = static_cast<uint32_t>(strtoul(f[2].c_str(), nullptr, 10));
    r.crc32 = f[3];
    r.sha256 = f[4];
    r.compression = f[5];
    r.folder = static_cast<uint16_t>(strtoul(f[7].c_str(), nullptr, 0));
    rows.push_back(r);
  }
  return rows;
}

std::vector<InvalidRow> LoadInvalid() {
  std::vector<InvalidRow> rows;
  for (const auto& f : ReadTable("INVALID.tsv")) {
    if (f.size() < 3) continue;
    rows.push_back(InvalidRow{f[0], f[1], f[2]});
  }
  return rows;
}

std::vector<CabinetRow> LoadCabinets() {
  std::vector<CabinetRow> rows;
  for (const auto& f : ReadTable("CABINETS.tsv")) {
    if (f.size() < 3) continue;
    rows.push_back(CabinetRow{f[0], f[1], static_cast<uint32_t>(strtoul(f[2].c_str(), nullptr, 10))});
  }
  return rows;
}

std::string Crc32Hex(const std::vector<uint8_t>& data) {
  char text[16];
  snprintf(text, sizeof(text), "%08x", Crc32OfBuffer(data.data(), data.size()));
  return text;
}

// ---------------------------------------------------------------- writer

void DeflateWriter::Bits(uint32_t value, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    buffer_ |= ((value >> i) & 1u) << count_;
    if (++count_ == 8) {
      out_.push_back(static_cast<uint8_t>(buffer_));
      buffer_ = 0;
      count_ = 0;
    }
  }
}

void DeflateWriter::Code(uint32_t code, unsigned length) {
  for (unsigned i = length; i-- > 0;) Bits((code >> i) & 1u, 1);
}

void DeflateWriter::FixedBlockHeader(bool last) {
  Bits(last ? 1 : 0, 1);
  Bits(1, 2);
}

void DeflateWriter::Literal(uint8_t byte) {
  if (byte < 144) {
    Code(0x30 + byte, 8);
  } else {
    Code(0x190 + (byte - 144), 9);
  }
}

void DeflateWriter::EndBlock() { Code(0, 7); }

void DeflateWriter::Match(unsigned length, unsigned distance) {
  static const unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                         33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  unsigned l = 28;
  while (kLengthBase[l] > length) --l;
  const unsigned symbol = 257 + l;
  if (symbol < 280) {
    Code(symbol - 256, 7);
  } else {
    Code(0xC0 + (symbol - 280), 8);
  }
  Bits(length - kLengthBase[l], kLengthExtra[l]);
  unsigned d = 29;
  while (kDistBase[d] > distance) --d;
  Code(d, 5);
  Bits(distance - kDistBase[d], kDistExtra[d]);
}

void DeflateWriter::StoredBlock(const std::vector<uint8_t>& data, bool last) {
  StoredBlock(data, last, static_cast<uint16_t>(~data.size()));
}

void DeflateWriter::StoredBlock(const std::vector<uint8_t>& data, bool last, uint16_t nlen) {
  Bits(last ? 1 : 0, 1);
  Bits(0, 2);
  if (count_) Bits(0, 8 - count_);
  Bits(static_cast<uint32_t>(data.size()) & 0xFFFF, 16);
  Bits(nlen, 16);
  for (uint8_t b : data) Bits(b, 8);
}

namespace {

// Canonical codes (RFC 1951, 3.2.2) of a code given by its lengths.
std::vector<std::pair<uint32_t, unsigned>> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  unsigned count[16] = {};
  for (uint8_t length : lengths) ++count[length];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (unsigned bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<std::pair<uint32_t, unsigned>> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = {next[lengths[s]]++, lengths[s]};
  }
  return codes;
}

}  // namespace

void DeflateWriter::DynamicBlockHeader(bool last, const std::vector<uint8_t>& litLenLengths,
                                       const std::vector<uint8_t>& distLengths) {
  Bits(last ? 1 : 0, 1);
  Bits(2, 2);
  Bits(static_cast<uint32_t>(litLenLengths.size() - 257), 5);
  Bits(static_cast<uint32_t>(distLengths.size() - 1), 5);
  // Code length code: lengths 0-15 in 4 bits each (a complete code in which
  // the code of length n is n), no repeat codes; all 19 entries sent.
  Bits(15, 4);
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (uint8_t symbol : kOrder) Bits(symbol < 16 ? 4 : 0, 3);
  for (uint8_t length : litLenLengths) Code(length, 4);
  for (uint8_t length : distLengths) Code(length, 4);
  dynamic_ = CanonicalCodes(litLenLengths);
}

void DeflateWriter::Symbol(unsigned symbol) { Code(dynamic_[symbol].first, dynamic_[symbol].second); }

std::vector<uint8_t> DeflateWriter::Finish() {
  if (count_) Bits(0, 8 - count_);
  return out_;
}

std::vector<uint8_t> MszipLiteralBlock(const std::vector<uint8_t>& data) {
  DeflateWriter w;
  w.FixedBlockHeader(true);
  for (uint8_t b : data) w.Literal(b);
  w.EndBlock();
  std::vector<uint8_t> out = {'C', 'K'};
  const std::vector<uint8_t> body = w.Finish();
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void CabWriter::AddStoredFolder(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& contents,
                                uint32_t blockSize) {
  CabFolder folder;
  std::vector<uint8_t> all;
  for (const auto& [name, data] : contents) {
    CabFile f;
    f.name = name;
    f.size = static_cast<uint32_t>(data.size());
    f.offset = static_cast<uint32_t>(all.size());
    f.folder = static_cast<uint16_t>(folders.size());
    files.push_back(f);
    all.insert(all.end(), data.begin(), data.end());
  }
  for (size_t at = 0; at < all.size(); at += blockSize) {
    const size_t n = all.size() - at < blockSize ? all.size() - at : blockSize;
    CabBlock b;
    b.payload.assign(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + n));
    b.uncompressed = static_cast<uint16_t>(n);
    folder.blocks.push_back(b);
  }
  folders.push_back(folder);
}

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Append(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

}  // namespace

std::vector<uint8_t> CabWriter::Build() const {
  std::vector<uint8_t> out(36, 0);
  uint16_t flags = 0;
  if (hasPrev) flags |= 1;
  if (hasNext) flags |= 2;
  if (reserve) flags |= 4;
  memcpy(out.data(), "MSCF", 4);
  Put16(out, 24, version);
  Put16(out, 26, static_cast<uint32_t>(folders.size()));
  Put16(out, 28, static_cast<uint32_t>(files.size()));
  Put16(out, 30, flags);
  Put16(out, 32, setId);
  Put16(out, 34, number);
  if (reserve) {
    out.push_back(static_cast<uint8_t>(headerReserve));
    out.push_back(static_cast<uint8_t>(headerReserve >> 8));
    out.push_back(folderReserve);
    out.push_back(dataReserve);
    out.insert(out.end(), headerReserve, 0xAA);
  }
  if (hasPrev) {
    Append(out, prevName);
    Append(out, prevDisk);
  }
  if (hasNext) {
    Append(out, nextName);
    Append(out, nextDisk);
  }
  const size_t foldersAt = out.size();
  out.resize(out.size() + folders.size() * (8 + folderReserve), 0xBB);
  Put32(out, 16, static_cast<uint32_t>(out.size()));  // file entries follow
  for (const CabFile& f : files) {
    const size_t at = out.size();
    out.resize(at + 16);
    Put32(out, at, f.size);
    Put32(out, at + 4, f.offset);
    Put16(out, at + 8, f.folder);
    Put16(out, at + 10, f.date);
    Put16(out, at + 12, f.time);
    Put16(out, at + 14, f.attribs);
    Append(out, f.name);
  }
  for (size_t i = 0; i < folders.size(); ++i) {
    const size_t entry = foldersAt + i * (8 + folderReserve);
    Put32(out, entry, static_cast<uint32_t>(out.size()));
    Put16(out, entry + 4, static_cast<uint32_t>(folders[i].blocks.size()));
    Put16(out, entry + 6, folders[i].typeCompress);
    for (const CabBlock& b : folders[i].blocks) {
      const size_t at = out.size();
      out.resize(at + 8);
      out.insert(out.end(), dataReserve, 0xCC);
      Put16(out, at + 4, static_cast<uint32_t>(b.payload.size()));
      Put16(out, at + 6, b.uncompressed);
      out.insert(out.end(), b.payload.begin(), b.payload.end());
      if (b.checksum) {
        uint8_t sizes[4] = {out[at + 4], out[at + 5], out[at + 6], out[at + 7]};
        uint32_t sum = cab::CabChecksum(sizes, 4, cab::CabChecksum(b.payload.data(), b.payload.size(), 0));
        if (b.corruptChecksum) sum ^= 0x00010000u;
        Put32(out, at, sum);
      }
    }
  }
  Put32(out, 8, static_cast<uint32_t>(out.size()));
  return out;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 11);
  }
  return out;
}

}  // namespace cabtest
