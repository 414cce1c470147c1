// The decoder under hostile callbacks and hostile data: reads that return a
// few bytes at a time, an allocation, open, read, seek or write that fails
// at call N (for every N of a clean run), and cabinets with bytes changed.
// Whatever happens, the copy ends, frees every block and closes every
// handle, and a failure is reported with a code of the published set.
#include <gtest/gtest.h>

#include "apply/cab/fdi.h"
#include "tests/cab/cab_test_support.h"

namespace cabtest {
namespace {

// One cabinet of each folder type, small enough for call-by-call sweeps.
const char* const kSweepCabinets[] = {
    "cabextract-mixed.cab",          // MSZIP, LZX and Quantum folders
    "gcab-mszip-mixed.cab",          // MSZIP, several blocks, names with folders
    "fillyfoal-lzx16.cab",           // LZX verbatim/aligned/uncompressed blocks
    "libmspack-reserve_HFD.cab",     // all three reserve areas
    "test_read_format_cab_multi.p1.cab",  // spanned into p2
};

struct Expected {
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> data;
};

void AddWithSet(const std::string& cabinet) {
  FakeIo& io = FakeIo::Get();
  io.AddFile("cab/" + cabinet, ReadCabData(cabinet));
  if (cabinet == "test_read_format_cab_multi.p1.cab") {
    io.AddFile("cab/test_read_format_cab_multi.p2.cab", ReadCabData("test_read_format_cab_multi.p2.cab"));
  }
}

Expected CleanRun(const std::string& cabinet) {
  FakeIo::Get().Reset();
  AddWithSet(cabinet);
  const CopyRun run = RunCopy(cabinet, "cab/");
  EXPECT_EQ(1, run.result) << cabinet;
  Expected e;
  for (const ExtractedFile& f : run.collector.files) {
    e.names.push_back(f.name);
    e.data.push_back(f.data);
  }
  return e;
}

void ExpectClean(const std::string& what) {
  FakeIo& io = FakeIo::Get();
  EXPECT_EQ(0, io.liveBlocks) << what;
  EXPECT_EQ(0, io.openHandles) << what;
  EXPECT_EQ(0, io.badCloses) << what;
}

TEST(CabFaults, ShortReadsGiveTheSameFiles) {
  for (const char* cabinet : kSweepCabinets) {
    const Expected expected = CleanRun(cabinet);
    for (uint32_t chunk : {1u, 2u, 3u, 7u, 4095u}) {
      SCOPED_TRACE(std::string(cabinet) + " chunk " + std::to_string(chunk));
      FakeIo::Get().Reset();
      AddWithSet(cabinet);
      FakeIo::Get().maxReadChunk = chunk;
      const CopyRun run = RunCopy(cabinet, "cab/");
      ASSERT_EQ(1, run.result) << run.erf.erfOper;
      ASSERT_EQ(expected.names.size(), run.collector.files.size());
      for (size_t i = 0; i < expected.names.size(); ++i) {
        EXPECT_EQ(expected.names[i], run.collector.files[i].name);
        EXPECT_EQ(expected.data[i], run.collector.files[i].data);
      }
      ExpectClean("short reads");
    }
  }
  FakeIo::Get().Reset();
}

enum class Fault { kAlloc, kOpen, kRead, kSeek, kWrite };

int Calls(const FakeIo& io, Fault fault) {
  switch (fault) {
    case Fault::kAlloc:
      return io.allocCalls;
    case Fault::kOpen:
      return io.openCalls;
    case Fault::kRead:
      return io.readCalls;
    case Fault::kSeek:
      return io.seekCalls;
    case Fault::kWrite:
      return io.writeCalls;
  }
  return 0;
}

void Arm(FakeIo& io, Fault fault, int at) {
  switch (fault) {
    case Fault::kAlloc:
      io.failAllocAt = at;
      break;
    case Fault::kOpen:
      io.failOpenAt = at;
      break;
    case Fault::kRead:
      io.failReadAt = at;
      break;
    case Fault::kSeek:
      io.failSeekAt = at;
      break;
    case Fault::kWrite:
      io.failWriteAt = at;
      break;
  }
}

TEST(CabFaults, AFailingCallAtEveryPositionEndsTheCopyCleanly) {
  const Fault faults[] = {Fault::kAlloc, Fault::kOpen, Fault::kRead, Fault::kSeek, Fault::kWrite};
  const char* const names[] = {"alloc", "open", "read", "seek", "write"};
  for (const char* cabinet : kSweepCabinets) {
    const Expected expected = CleanRun(cabinet);
    for (size_t k = 0; k < sizeof(faults) / sizeof(faults[0]); ++k) {
      // How many calls of this kind a clean run makes (FDICreate included).
      FakeIo::Get().Reset();
      AddWithSet(cabinet);
      RunCopy(cabinet, "cab/");
      const int total = Calls(FakeIo::Get(), faults[k]);
      for (int at = 1; at <= total; ++at) {
        SCOPED_TRACE(std::string(cabinet) + ": " + names[k] + " fails at call " + std::to_string(at));
        FakeIo& io = FakeIo::Get();
        io.Reset();
        AddWithSet(cabinet);
        Arm(io, faults[k], at);
        const CopyRun run = RunCopy(cabinet, "cab/");
        ExpectClean(names[k]);
        if (run.result == 1) {
          // Only a failure that did not matter may pass, and then the files
          // must still be right.
          ASSERT_EQ(expected.names.size(), run.collector.files.size());
          for (size_t i = 0; i < expected.names.size(); ++i) EXPECT_EQ(expected.data[i], run.collector.files[i].data);
          continue;
        }
        EXPECT_EQ(1, run.erf.fError);
        EXPECT_GE(run.erf.erfOper, 1);
        EXPECT_LE(run.erf.erfOper, 11);
        if (faults[k] == Fault::kAlloc) {
          EXPECT_EQ(FDIERROR_ALLOC_FAIL, run.erf.erfOper);
        }
        if (faults[k] == Fault::kWrite) {
          EXPECT_EQ(FDIERROR_TARGET_FILE, run.erf.erfOper);
        }
        for (const FakeIo::Output& out : io.outputs) EXPECT_TRUE(out.closed) << out.path;
      }
    }
  }
  FakeIo::Get().Reset();
}

// Deterministic mutations of valid cabinets: single bytes, runs of bytes and
// cuts. A mutated cabinet may still decode; it must never crash, hang or
// leak, and a failure must carry a published code.
TEST(CabFaults, ChangedBytesNeverEscapeTheBuffers) {
  const char* const cabinets[] = {
      "cabextract-mixed.cab", "fillyfoal-compressed.cab", "fillyfoal-lzx16.cab", "fillyfoal-quantum.cab",
      "libarchive-cab_3.cab", "gen-lzx17.cab",            "fillyfoal-mszip.cab", "libarchive-lzx_e8.cab",
      "mscab-quantum-10.cab", "libmspack-reserve_HFD.cab",
  };
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
  };
  for (const char* cabinet : cabinets) {
    const std::vector<uint8_t> original = ReadCabData(cabinet);
    ASSERT_FALSE(original.empty());
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> bytes = original;
      const uint32_t kind = next() % 4;
      if (kind == 0) {
        bytes[next() % bytes.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
      } else if (kind == 1) {
        // Header and tables are where structure lives: hit the first 128 bytes often.
        const size_t span = bytes.size() < 128 ? bytes.size() : 128;
        bytes[next() % span] = static_cast<uint8_t>(next());
      } else if (kind == 2) {
        const size_t at = next() % bytes.size();
        const size_t n = 1 + next() % 16;
        for (size_t i = at; i < at + n && i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(next());
      } else {
        bytes.resize(next() % bytes.size());
      }
      SCOPED_TRACE(std::string(cabinet) + " round " + std::to_string(round));
      FakeIo& io = FakeIo::Get();
      io.Reset();
      io.AddFile("cab/m.cab", bytes);
      const CopyRun run = RunCopy("m.cab", "cab/");
      if (run.result == 0) {
        EXPECT_GE(run.erf.erfOper, 1);
        EXPECT_LE(run.erf.erfOper, 11);
      }
      ExpectClean("mutation");
    }
  }
  FakeIo::Get().Reset();
}

}  // namespace
}  // namespace cabtest
