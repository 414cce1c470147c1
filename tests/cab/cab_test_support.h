// Test helpers for the cabinet decoder: in-memory files behind the FDI
// callbacks with fault injection, a notification collector, the shared test
// data's tables, and a small cabinet writer for cases the data lacks.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "apply/cab/fdi.h"

namespace cabtest {

// ---------------------------------------------------------------- fake I/O

// In-memory files behind the FDI callbacks (plain functions, so one object
// per process). Cabinets are added with AddFile; anything opened with the
// create flag becomes an output. Counters and faults are for the tests that
// fail the Nth call or hand out short reads.
class FakeIo {
 public:
  static FakeIo& Get();

  void Reset();
  void AddFile(const std::string& path, std::vector<uint8_t> bytes);
  bool HasOutput(const std::string& path) const;
  const std::vector<uint8_t>& OutputData(const std::string& path) const;

  // The Nth call (1-based) of that kind fails; 0: never.
  int failAllocAt = 0;
  int failOpenAt = 0;
  int failReadAt = 0;
  int failWriteAt = 0;
  int failSeekAt = 0;
  // Reads return at most this many bytes (0: as many as asked).
  uint32_t maxReadChunk = 0;
  // A write returns this many bytes fewer than asked (short write), once
  // failWriteAt is reached, instead of failing outright.
  bool shortWriteInsteadOfFail = false;

  int allocCalls = 0;
  int openCalls = 0;
  int readCalls = 0;
  int writeCalls = 0;
  int seekCalls = 0;
  int closeCalls = 0;
  int liveBlocks = 0;   // allocated and not freed
  int openHandles = 0;  // opened and not closed
  int badCloses = 0;    // close of a handle that was not open

  // Output files in the order they were created.
  struct Output {
    std::string path;
    std::vector<uint8_t> data;
    bool closed = false;
  };
  std::vector<Output> outputs;

  static void* Alloc(uint32_t size);
  static void Free(void* block);
  static intptr_t Open(const char* path, int oflag, int pmode);
  static uint32_t Read(intptr_t hf, void* buffer, uint32_t count);
  static uint32_t Write(intptr_t hf, const void* buffer, uint32_t count);
  static int Close(intptr_t hf);
  static int32_t Seek(intptr_t hf, int32_t distance, int origin);

 private:
  struct Handle {
    bool output = false;
    std::string path;
    size_t outputIndex = 0;
    uint32_t position = 0;
  };
  std::map<std::string, std::vector<uint8_t>> files_;
  std::map<intptr_t, Handle> handles_;
  intptr_t nextHandle_ = 100;
};

// A context over the fake I/O; null when FDICreate failed.
HFDI CreateFakeContext(ERF* erf);

// ---------------------------------------------------------------- notifications

struct Event {
  FDINOTIFICATIONTYPE type;
  int32_t cb;
  std::string psz1;
  std::string psz2;
  std::string psz3;
  intptr_t hf;
  uint16_t date;
  uint16_t time;
  uint16_t attribs;
  uint16_t setID;
  uint16_t iCabinet;
  uint16_t iFolder;
  FDIERROR fdie;
};

struct ExtractedFile {
  std::string name;  // as stored (raw bytes)
  uint32_t size = 0;
  uint16_t folder = 0;
  uint16_t attribs = 0;
  std::vector<uint8_t> data;
  bool closed = false;
  std::string outputPath;  // in the fake I/O
};

// Collects notifications and extracts every offered file into the fake I/O
// (or skips them all), with overridable answers.
struct Collector {
  bool skipAll = false;
  intptr_t answerCabinetInfo = 0;
  intptr_t answerEnumerate = 1;
  intptr_t answerPartial = 1;
  intptr_t answerNextCabinet = 1;
  intptr_t answerClose = 1;
  int abortAtCopy = 0;  // the Nth copy-file notification returns -1
  std::string nextCabinetDirectory;  // written into psz3 on next-cabinet, when not empty

  std::vector<Event> events;
  std::vector<ExtractedFile> files;
  int copies = 0;
};

// The notification callback for a Collector passed as the user value.
intptr_t CollectorNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note);

// One FDICopy of `name` in `directory` over the fake I/O with a collector.
struct CopyRun {
  int result = 0;
  ERF erf = {};
  Collector collector;
};
CopyRun RunCopy(const std::string& name, const std::string& directory, Collector collector = Collector());

// ---------------------------------------------------------------- test data

std::string CabDataDir();  // the shared cabinet folder, with a trailing separator
std::vector<uint8_t> ReadCabData(const std::string& name);

struct ManifestRow {
  std::string cabinet;
  std::string storedName;  // raw bytes
  uint32_t size = 0;
  std::string crc32;       // 8 lower-case hex digits
  std::string sha256;
  std::string compression;
  uint16_t folder = 0;
};
std::vector<ManifestRow> LoadManifest();

struct InvalidRow {
  std::string cabinet;
  std::string defect;
  std::string expected;
};
std::vector<InvalidRow> LoadInvalid();
inline void PrintTo(const InvalidRow& row, std::ostream* os) { *os << row.cabinet; }

struct CabinetRow {
  std::string cabinet;
  std::string group;
  uint32_t files = 0;
};
std::vector<CabinetRow> LoadCabinets();

// "%XX" escapes of MANIFEST.tsv back to bytes.
std::string DecodeStoredName(const std::string& escaped);
std::string Crc32Hex(const std::vector<uint8_t>& data);

// ---------------------------------------------------------------- writer

// Deflate streams for MSZIP blocks built by hand: literals and matches with
// the fixed codes, or stored blocks.
class DeflateWriter {
 public:
  void Literal(uint8_t byte);
  void Match(unsigned length, unsigned distance);
  void EndBlock();                                // end-of-block code of a fixed block
  void FixedBlockHeader(bool last);
  // A stored block; `nlen` other than the complement of the length makes
  // it invalid.
  void StoredBlock(const std::vector<uint8_t>& data, bool last);
  void StoredBlock(const std::vector<uint8_t>& data, bool last, uint16_t nlen);
  // A dynamic block's header for these code lengths (literal/length codes
  // from 257 on, distance codes from 1 on), after which Symbol writes the
  // block's literal/length symbols.
  void DynamicBlockHeader(bool last, const std::vector<uint8_t>& litLenLengths,
                          const std::vector<uint8_t>& distLengths);
  void Symbol(unsigned symbol);
  void Bits(uint32_t value, unsigned count);      // raw bits, least significant first
  std::vector<uint8_t> Finish();                  // flushed to a byte

 private:
  void Code(uint32_t code, unsigned length);      // Huffman code, most significant bit first
  std::vector<uint8_t> out_;
  std::vector<std::pair<uint32_t, unsigned>> dynamic_;  // code and length of each literal/length symbol
  uint32_t buffer_ = 0;
  unsigned count_ = 0;
};

// An MSZIP data block payload: 'C' 'K' and one fixed block of literals.
std::vector<uint8_t> MszipLiteralBlock(const std::vector<uint8_t>& data);

struct CabBlock {
  std::vector<uint8_t> payload;
  uint16_t uncompressed = 0;
  bool checksum = true;       // write the checksum (else 0)
  bool corruptChecksum = false;
};

struct CabFolder {
  uint16_t typeCompress = 0;
  std::vector<CabBlock> blocks;
};

struct CabFile {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
  uint16_t date = 0x5A21;
  uint16_t time = 0x6000;
  uint16_t attribs = 0x20;
};

struct CabWriter {
  uint16_t version = 0x0103;
  uint16_t setId = 0x1234;
  uint16_t number = 0;
  bool reserve = false;
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  std::string prevName, prevDisk, nextName, nextDisk;
  bool hasPrev = false;
  bool hasNext = false;
  std::vector<CabFolder> folders;
  std::vector<CabFile> files;

  // Adds a stored folder holding the files' data in order, in blocks of
  // `blockSize`, and the files' entries.
  void AddStoredFolder(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& contents,
                       uint32_t blockSize = 32768);
  std::vector<uint8_t> Build() const;
};

// Bytes of `size` from a seeded generator.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);

}  // namespace cabtest
