// The FDI interface's behaviour on cabinets made for the purpose: the
// notification contract, every error code, spanned cabinets, the decrypt
// callback and the edge cases the decoder's Part lists.
#include <gtest/gtest.h>

#include <cstring>

#include "apply/cab/fdi.h"
#include "tests/cab/cab_test_support.h"

namespace cabtest {
namespace {

class FdiTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeIo::Get().Reset(); }
  void TearDown() override {
    FakeIo& io = FakeIo::Get();
    EXPECT_EQ(0, io.liveBlocks) << "memory left allocated";
    EXPECT_EQ(0, io.openHandles) << "handles left open";
    EXPECT_EQ(0, io.badCloses);
    io.Reset();
  }

  static std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

  // Two files in one stored folder.
  static CabWriter TwoFiles() {
    CabWriter w;
    w.AddStoredFolder({{"hello.c", Text("hello, world\n")}, {"sub\\welcome.c", Text("welcome\n")}});
    return w;
  }

  static void Add(const std::string& name, const CabWriter& w) { FakeIo::Get().AddFile("d/" + name, w.Build()); }

  static std::vector<FDINOTIFICATIONTYPE> Types(const CopyRun& run) {
    std::vector<FDINOTIFICATIONTYPE> types;
    for (const Event& e : run.collector.events) types.push_back(e.type);
    return types;
  }
};

TEST_F(FdiTest, NotificationsComeInTheOrderOfThePublishedInterface) {
  Add("a.cab", TwoFiles());
  const CopyRun run = RunCopy("a.cab", "d/");
  ASSERT_EQ(1, run.result);
  const std::vector<FDINOTIFICATIONTYPE> expected = {fdintCABINET_INFO, fdintENUMERATE,       fdintCOPY_FILE,
                                                     fdintCLOSE_FILE_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                                     fdintENUMERATE};
  EXPECT_EQ(expected, Types(run));
  ASSERT_EQ(2u, run.collector.files.size());
  EXPECT_EQ("hello.c", run.collector.files[0].name);
  EXPECT_EQ(Text("hello, world\n"), run.collector.files[0].data);
  EXPECT_EQ("sub\\welcome.c", run.collector.files[1].name);
  EXPECT_EQ(Text("welcome\n"), run.collector.files[1].data);
}

TEST_F(FdiTest, NotificationRecordsCarryTheEntryFields) {
  CabWriter w = TwoFiles();
  w.setId = 0x4321;
  w.number = 0;
  w.hasNext = true;
  w.nextName = "b.cab";
  w.nextDisk = "disk 2";
  w.files[0].date = 0x1234;
  w.files[0].time = 0x5678;
  w.files[0].attribs = 0x21 | 0x40;  // archive, read-only, run after extraction
  Add("a.cab", w);
  const CopyRun run = RunCopy("a.cab", "d/");
  ASSERT_EQ(1, run.result);
  const std::vector<Event>& ev = run.collector.events;
  EXPECT_EQ("b.cab", ev[0].psz1);
  EXPECT_EQ("disk 2", ev[0].psz2);
  EXPECT_EQ("d/", ev[0].psz3);
  EXPECT_EQ(0x4321, ev[0].setID);
  EXPECT_EQ(0, ev[0].iCabinet);

  // Enumerate: position of the file list, files to list, set ID.
  const std::vector<uint8_t> bytes = w.Build();
  const int32_t filesOffset = bytes[16] | (bytes[17] << 8);
  EXPECT_EQ(filesOffset, ev[1].cb);
  EXPECT_EQ(2, ev[1].iFolder);
  EXPECT_EQ(0x4321, ev[1].setID);

  EXPECT_EQ(fdintCOPY_FILE, ev[2].type);
  EXPECT_EQ(13, ev[2].cb);
  EXPECT_EQ("hello.c", ev[2].psz1);
  EXPECT_EQ(0x1234, ev[2].date);
  EXPECT_EQ(0x5678, ev[2].time);
  EXPECT_EQ(0x61, ev[2].attribs);
  EXPECT_EQ(0, ev[2].iFolder);

  // Close: the handle given, the run flag moved from the attributes to cb.
  EXPECT_EQ(fdintCLOSE_FILE_INFO, ev[3].type);
  EXPECT_NE(0, ev[3].hf);
  EXPECT_EQ(0x21, ev[3].attribs);
  EXPECT_EQ(1, ev[3].cb);
  EXPECT_EQ(0x1234, ev[3].date);
  EXPECT_EQ(0, ev[5].cb);  // second file: no run flag

  EXPECT_EQ(0, ev.back().iFolder);
}

TEST_F(FdiTest, ACabinetWithoutFilesSendsCabinetInfoAndOneEnumeration) {
  CabWriter w;
  Add("empty.cab", w);
  const CopyRun run = RunCopy("empty.cab", "d/");
  EXPECT_EQ(1, run.result);
  EXPECT_EQ((std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintENUMERATE}), Types(run));
  EXPECT_EQ(0, run.collector.events[1].iFolder);
}

TEST_F(FdiTest, SkippingEveryFileWritesNothingAndSucceeds) {
  CabWriter w = TwoFiles();
  w.folders[0].typeCompress = 1;  // not even valid MSZIP data: nothing is decoded
  Add("a.cab", w);
  Collector c;
  c.skipAll = true;
  const CopyRun run = RunCopy("a.cab", "d/", c);
  EXPECT_EQ(1, run.result);
  EXPECT_EQ(2, run.collector.copies);
  EXPECT_EQ(0, FakeIo::Get().writeCalls);
  EXPECT_TRUE(FakeIo::Get().outputs.empty());
}

TEST_F(FdiTest, AZeroChecksumIsNotCheckedAndAWrongOneIsACorruptCabinet) {
  CabWriter w = TwoFiles();
  w.folders[0].blocks[0].checksum = false;
  Add("zero.cab", w);
  EXPECT_EQ(1, RunCopy("zero.cab", "d/").result);

  CabWriter bad = TwoFiles();
  bad.folders[0].blocks[0].corruptChecksum = true;
  Add("bad.cab", bad);
  const CopyRun run = RunCopy("bad.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, run.erf.erfOper);
  EXPECT_EQ(0, run.erf.erfType);
  EXPECT_EQ(1, run.erf.fError);
}

TEST_F(FdiTest, CompressionTypeFourFailsWhenTheFirstFileIsAccepted) {
  CabWriter w = TwoFiles();
  w.folders[0].typeCompress = 4;
  Add("t4.cab", w);
  const CopyRun run = RunCopy("t4.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_BAD_COMPR_TYPE, run.erf.erfOper);
  EXPECT_EQ(1, run.collector.copies);
  // The output the caller opened was closed by the decoder.
  ASSERT_EQ(1u, FakeIo::Get().outputs.size());
  EXPECT_TRUE(FakeIo::Get().outputs[0].closed);

  // A file of length zero in such a folder is refused the same way.
  CabWriter empty;
  empty.AddStoredFolder({{"nothing", {}}});
  empty.folders[0].typeCompress = 0x0F04;
  Add("t4e.cab", empty);
  EXPECT_EQ(FDIERROR_BAD_COMPR_TYPE, RunCopy("t4e.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, TypeFifteenSetsUpNothing) {
  CabWriter w;
  w.AddStoredFolder({{"empty", {}}});
  w.folders[0].typeCompress = 15;
  Add("t15.cab", w);
  EXPECT_EQ(1, RunCopy("t15.cab", "d/").result);

  CabWriter data = TwoFiles();
  data.folders[0].typeCompress = 15;
  Add("t15d.cab", data);
  EXPECT_EQ(FDIERROR_MDI_FAIL, RunCopy("t15d.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, VersionOtherThanOneDotThreeIsRefusedWithTheVersion) {
  CabWriter w = TwoFiles();
  w.version = 0x0104;
  Add("v.cab", w);
  const CopyRun run = RunCopy("v.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_UNKNOWN_CABINET_VERSION, run.erf.erfOper);
  EXPECT_EQ(0x0104, run.erf.erfType);
  EXPECT_TRUE(run.collector.events.empty());

  ERF erf = {};
  HFDI hfdi = CreateFakeContext(&erf);
  const intptr_t hf = FakeIo::Open("d/v.cab", 0x8000, 0);
  FDICABINETINFO info = {};
  EXPECT_EQ(0, FDIIsCabinet(hfdi, hf, &info));
  EXPECT_EQ(FDIERROR_UNKNOWN_CABINET_VERSION, erf.erfOper);
  EXPECT_EQ(0x0104, erf.erfType);
  EXPECT_EQ(1, erf.fError);
  FakeIo::Close(hf);
  FDIDestroy(hfdi);
}

TEST_F(FdiTest, AShortHeaderIsNotACabinetAndLeavesTheErrorRecordAlone) {
  std::vector<uint8_t> bytes = TwoFiles().Build();
  bytes.resize(35);
  FakeIo::Get().AddFile("d/short.cab", bytes);
  ERF erf = {5, 6, 7};
  HFDI hfdi = CreateFakeContext(&erf);
  ASSERT_NE(nullptr, hfdi);
  const intptr_t hf = FakeIo::Open("d/short.cab", 0x8000, 0);
  FDICABINETINFO info = {};
  EXPECT_EQ(0, FDIIsCabinet(hfdi, hf, &info));
  EXPECT_EQ(5, erf.erfOper);
  EXPECT_EQ(6, erf.erfType);
  EXPECT_EQ(7, erf.fError);
  FakeIo::Close(hf);

  Collector c;
  EXPECT_EQ(0, FDICopy(hfdi, "short.cab", "d/", 0, CollectorNotify, nullptr, &c));
  EXPECT_EQ(FDIERROR_NOT_A_CABINET, erf.erfOper);
  EXPECT_EQ(1, FDIDestroy(hfdi));
}

TEST_F(FdiTest, IsCabinetFillsTheInformationAndLeavesThePositionAfterTheHeader) {
  CabWriter w = TwoFiles();
  w.setId = 77;
  w.number = 3;
  w.hasPrev = true;
  w.prevName = "p.cab";
  w.reserve = true;
  Add("i.cab", w);
  const size_t size = w.Build().size();
  ERF erf = {};
  HFDI hfdi = CreateFakeContext(&erf);
  const intptr_t hf = FakeIo::Open("d/i.cab", 0x8000, 0);
  FDICABINETINFO info = {};
  EXPECT_EQ(1, FDIIsCabinet(hfdi, hf, &info));
  EXPECT_EQ(static_cast<int32_t>(size), info.cbCabinet);
  EXPECT_EQ(1, info.cFolders);
  EXPECT_EQ(2, info.cFiles);
  EXPECT_EQ(77, info.setID);
  EXPECT_EQ(3, info.iCabinet);
  EXPECT_EQ(1, info.fReserve);
  EXPECT_EQ(1, info.hasprev);
  EXPECT_EQ(0, info.hasnext);
  EXPECT_EQ(36, FakeIo::Seek(hf, 0, 1));
  FakeIo::Close(hf);
  EXPECT_EQ(1, FDIDestroy(hfdi));
}

TEST_F(FdiTest, AMissingCabinetIsErrorOne) {
  const CopyRun run = RunCopy("none.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, run.erf.erfOper);
}

TEST_F(FdiTest, MinusOneFromAnyNotificationAbortsWithErrorEleven) {
  Add("a.cab", TwoFiles());
  {
    Collector c;
    c.answerCabinetInfo = -1;
    EXPECT_EQ(FDIERROR_USER_ABORT, RunCopy("a.cab", "d/", c).erf.erfOper);
  }
  {
    Collector c;
    c.answerEnumerate = -1;
    EXPECT_EQ(FDIERROR_USER_ABORT, RunCopy("a.cab", "d/", c).erf.erfOper);
  }
  {
    Collector c;
    c.abortAtCopy = 2;
    const CopyRun run = RunCopy("a.cab", "d/", c);
    EXPECT_EQ(FDIERROR_USER_ABORT, run.erf.erfOper);
    EXPECT_EQ(1u, run.collector.files.size());  // the first file was written
    EXPECT_EQ(Text("hello, world\n"), run.collector.files[0].data);
  }
  {
    Collector c;
    c.answerClose = -1;
    const CopyRun run = RunCopy("a.cab", "d/", c);
    EXPECT_EQ(FDIERROR_USER_ABORT, run.erf.erfOper);
    EXPECT_EQ(1, run.collector.copies);
  }
}

TEST_F(FdiTest, ACloseNotificationReturningZeroIsATargetFileFailure) {
  Add("a.cab", TwoFiles());
  Collector c;
  c.answerClose = 0;
  const CopyRun run = RunCopy("a.cab", "d/", c);
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_TARGET_FILE, run.erf.erfOper);
}

TEST_F(FdiTest, AShortOrFailedWriteIsATargetFileFailureAndTheOutputIsClosed) {
  for (bool shortWrite : {false, true}) {
    SCOPED_TRACE(shortWrite);
    FakeIo::Get().Reset();
    Add("a.cab", TwoFiles());
    FakeIo::Get().failWriteAt = 1;
    FakeIo::Get().shortWriteInsteadOfFail = shortWrite;
    const CopyRun run = RunCopy("a.cab", "d/");
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(FDIERROR_TARGET_FILE, run.erf.erfOper);
    ASSERT_EQ(1u, FakeIo::Get().outputs.size());
    EXPECT_TRUE(FakeIo::Get().outputs[0].closed);
  }
}

TEST_F(FdiTest, AFileIndexBeyondTheFoldersIsACorruptCabinetBeforeAnyCopy) {
  CabWriter w = TwoFiles();
  w.files[1].folder = 1;
  Add("a.cab", w);
  const CopyRun run = RunCopy("a.cab", "d/");
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, run.erf.erfOper);
  EXPECT_EQ(1, run.collector.copies);
}

TEST_F(FdiTest, AFileReachingPastItsFolderDataIsACorruptCabinet) {
  CabWriter w = TwoFiles();
  w.files[1].size += 1;
  Add("a.cab", w);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, RunCopy("a.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, ABlockDeclaringMoreThan32KiBIsACorruptCabinet) {
  CabWriter w;
  w.AddStoredFolder({{"big", RandomBytes(40000, 1)}}, 40000);
  Add("a.cab", w);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, RunCopy("a.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, NamesOfUpTo256BytesAreReadAndLongerOnesAreCorrupt) {
  const std::string longest(256, 'n');
  CabWriter w;
  w.AddStoredFolder({{longest, Text("x")}});
  Add("a.cab", w);
  const CopyRun run = RunCopy("a.cab", "d/");
  ASSERT_EQ(1, run.result);
  EXPECT_EQ(longest, run.collector.files[0].name);

  CabWriter over;
  over.AddStoredFolder({{longest + "x", Text("x")}});
  Add("b.cab", over);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, RunCopy("b.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, StoredBlocksOfAnySizeAndReserveAreasAreFollowed) {
  const std::vector<uint8_t> a = RandomBytes(70001, 2);
  const std::vector<uint8_t> b = RandomBytes(5, 3);
  CabWriter w;
  w.reserve = true;
  w.headerReserve = 300;
  w.folderReserve = 7;
  w.dataReserve = 9;
  w.AddStoredFolder({{"a", a}, {"b", b}}, 1000);
  Add("r.cab", w);
  const CopyRun run = RunCopy("r.cab", "d/");
  ASSERT_EQ(1, run.result);
  EXPECT_EQ(a, run.collector.files[0].data);
  EXPECT_EQ(b, run.collector.files[1].data);
}

TEST_F(FdiTest, FilesAcrossSeveralFoldersAndOutOfOrderOffsets) {
  // Folder 1 first in the list, then folder 0, then folder 1 again: the
  // cursor restarts folders as needed.
  CabWriter w;
  w.AddStoredFolder({{"f0a", RandomBytes(40000, 4)}, {"f0b", RandomBytes(100, 5)}}, 32768);
  w.AddStoredFolder({{"f1a", RandomBytes(50000, 6)}, {"f1b", RandomBytes(10, 7)}}, 32768);
  std::vector<CabFile> files = {w.files[3], w.files[0], w.files[2], w.files[1], w.files[2]};
  w.files = files;
  Add("m.cab", w);
  const CopyRun run = RunCopy("m.cab", "d/");
  ASSERT_EQ(1, run.result);
  ASSERT_EQ(5u, run.collector.files.size());
  EXPECT_EQ(RandomBytes(10, 7), run.collector.files[0].data);
  EXPECT_EQ(RandomBytes(40000, 4), run.collector.files[1].data);
  EXPECT_EQ(RandomBytes(50000, 6), run.collector.files[2].data);
  EXPECT_EQ(RandomBytes(100, 5), run.collector.files[3].data);
  EXPECT_EQ(RandomBytes(50000, 6), run.collector.files[4].data);
}

// ---------------------------------------------------------------- MSZIP

// An MSZIP data block: the signature and the writer's deflate stream.
std::vector<uint8_t> MszipBlock(DeflateWriter& writer) {
  std::vector<uint8_t> block = {'C', 'K'};
  const std::vector<uint8_t> body = writer.Finish();
  block.insert(block.end(), body.begin(), body.end());
  return block;
}

// A cabinet of one MSZIP folder of these blocks and one file "x" of `size`.
CabWriter MszipCabinet(std::vector<CabBlock> blocks, uint32_t size) {
  CabWriter w;
  CabFolder folder;
  folder.typeCompress = 1;
  folder.blocks = std::move(blocks);
  w.folders.push_back(folder);
  CabFile f;
  f.name = "x";
  f.size = size;
  w.files.push_back(f);
  return w;
}

TEST_F(FdiTest, MszipHistoryCarriesAcrossBlocks) {
  // Block 1: 100 literals. Block 2: a match 100 back, into block 1, then a
  // stored deflate block.
  std::vector<uint8_t> first = RandomBytes(100, 9);
  DeflateWriter w2;
  w2.FixedBlockHeader(false);
  w2.Match(50, 100);
  w2.Literal('!');
  w2.EndBlock();
  w2.StoredBlock(Text("stored"), true);
  const std::vector<uint8_t> block2 = MszipBlock(w2);

  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), first.begin(), first.begin() + 50);
  expected.push_back('!');
  const std::vector<uint8_t> stored = Text("stored");
  expected.insert(expected.end(), stored.begin(), stored.end());

  Add("h.cab", MszipCabinet({CabBlock{MszipLiteralBlock(first), 100}, CabBlock{block2, 57}},
                            static_cast<uint32_t>(expected.size())));
  const CopyRun run = RunCopy("h.cab", "d/");
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  EXPECT_EQ(expected, run.collector.files[0].data);
}

TEST_F(FdiTest, MszipMatchBeforeTheFolderStartFails) {
  DeflateWriter w1;
  w1.FixedBlockHeader(true);
  w1.Literal('a');
  w1.Match(3, 2);  // only one byte exists
  w1.EndBlock();
  Add("x.cab", MszipCabinet({CabBlock{MszipBlock(w1), 4}}, 4));
  EXPECT_EQ(FDIERROR_MDI_FAIL, RunCopy("x.cab", "d/").erf.erfOper);
}

TEST_F(FdiTest, MszipBlockProducingTooMuchOrTooLittleFails) {
  for (uint16_t declared : {uint16_t{9}, uint16_t{11}}) {
    SCOPED_TRACE(declared);
    FakeIo::Get().Reset();
    Add("x.cab", MszipCabinet({CabBlock{MszipLiteralBlock(RandomBytes(10, 1)), declared}}, declared));
    EXPECT_EQ(FDIERROR_MDI_FAIL, RunCopy("x.cab", "d/").erf.erfOper);
  }
}

// Deflate blocks that look almost right, each beside the same block made
// right, which must decode (so a refusal is the decoder's, not the
// writer's).
TEST_F(FdiTest, MszipRefusesAStoredLengthWithoutItsComplementAndACodeWithoutEndOfBlock) {
  const std::vector<uint8_t> data = Text("abcd");
  auto stored = [&](bool valid) {
    DeflateWriter w;
    w.StoredBlock(data, true, static_cast<uint16_t>(valid ? ~data.size() : ~data.size() ^ 0x0100));
    return w;
  };
  auto dynamic = [&](bool withEndOfBlock) {
    // Literals in 8 bits; with an end-of-block code, literal 255 and the
    // end-of-block code take 9 bits, so the code stays complete either way.
    std::vector<uint8_t> litLen(257, 8);
    litLen[255] = withEndOfBlock ? 9 : 8;
    litLen[256] = withEndOfBlock ? 9 : 0;
    DeflateWriter w;
    w.DynamicBlockHeader(true, litLen, {0});
    for (uint8_t b : data) w.Symbol(b);
    if (withEndOfBlock) w.Symbol(256);
    return w;
  };
  struct Case {
    const char* what;
    DeflateWriter block;
    bool valid;
  };
  const Case cases[] = {
      {"stored, NLEN the complement of LEN", stored(true), true},
      {"stored, NLEN not the complement of LEN", stored(false), false},
      {"dynamic, with an end-of-block code", dynamic(true), true},
      {"dynamic, no end-of-block code", dynamic(false), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo::Get().Reset();
    DeflateWriter block = c.block;
    Add("x.cab", MszipCabinet({CabBlock{MszipBlock(block), static_cast<uint16_t>(data.size())}},
                              static_cast<uint32_t>(data.size())));
    const CopyRun run = RunCopy("x.cab", "d/");
    if (c.valid) {
      ASSERT_EQ(1, run.result) << run.erf.erfOper;
      EXPECT_EQ(data, run.collector.files[0].data);
    } else {
      EXPECT_EQ(0, run.result);
      EXPECT_EQ(FDIERROR_MDI_FAIL, run.erf.erfOper);
    }
  }
}

// ---------------------------------------------------------------- enumeration

// Answers the last enumeration once with the whole list again.
intptr_t RewindNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  static int32_t listStart = 0;
  static bool rewound = false;
  if (type == fdintENUMERATE) {
    if (note->iFolder != 0) {
      if (!rewound) listStart = note->cb;
    } else if (!rewound) {
      rewound = true;
      note->iFolder = 1;
      note->cb = listStart;
    }
  }
  if (type == fdintCABINET_INFO) rewound = false;
  return CollectorNotify(type, note);
}

TEST_F(FdiTest, TheEnumerationCanListFilesAgainFromAnotherPosition) {
  Add("a.cab", TwoFiles());
  ERF erf = {};
  Collector c;
  HFDI hfdi = CreateFakeContext(&erf);
  ASSERT_EQ(1, FDICopy(hfdi, "a.cab", "d/", 0, RewindNotify, nullptr, &c));
  FDIDestroy(hfdi);
  ASSERT_EQ(3u, c.files.size());
  EXPECT_EQ("hello.c", c.files[2].name);
  EXPECT_EQ(Text("hello, world\n"), c.files[2].data);
}

// ---------------------------------------------------------------- decrypt

struct DecryptLog {
  std::vector<FDIDECRYPTTYPE> types;
  std::vector<uint16_t> reserveSizes;
  std::vector<uint8_t> firstReserveBytes;
  int abortAt = 0;
};
DecryptLog* gDecrypt = nullptr;

int Decrypt(FDIDECRYPT* d) {
  gDecrypt->types.push_back(d->fdidt);
  switch (d->fdidt) {
    case fdidtNEW_CABINET:
      gDecrypt->reserveSizes.push_back(d->cabinet.cbHeaderReserve);
      gDecrypt->firstReserveBytes.push_back(d->cabinet.cbHeaderReserve
                                                ? static_cast<uint8_t*>(d->cabinet.pHeaderReserve)[0]
                                                : 0);
      break;
    case fdidtNEW_FOLDER:
      gDecrypt->reserveSizes.push_back(d->folder.cbFolderReserve);
      gDecrypt->firstReserveBytes.push_back(static_cast<uint8_t*>(d->folder.pFolderReserve)[0]);
      break;
    case fdidtDECRYPT: {
      gDecrypt->reserveSizes.push_back(d->decrypt.cbDataReserve);
      gDecrypt->firstReserveBytes.push_back(static_cast<uint8_t*>(d->decrypt.pDataReserve)[0]);
      // "Decrypt": the stored data was XORed with 0x5A.
      uint8_t* data = static_cast<uint8_t*>(d->decrypt.pbData);
      for (uint16_t i = 0; i < d->decrypt.cbData; ++i) data[i] ^= 0x5A;
      break;
    }
  }
  return static_cast<int>(gDecrypt->types.size()) == gDecrypt->abortAt ? -1 : 1;
}

TEST_F(FdiTest, TheDecryptCallbackSeesEveryReserveAreaAndEveryBlockBeforeDecoding) {
  const std::vector<uint8_t> plain = RandomBytes(50000, 11);
  CabWriter w;
  w.reserve = true;
  w.headerReserve = 20;
  w.folderReserve = 4;
  w.dataReserve = 6;
  w.AddStoredFolder({{"secret", plain}});
  for (CabBlock& b : w.folders[0].blocks) {
    for (uint8_t& byte : b.payload) byte ^= 0x5A;
  }
  Add("e.cab", w);

  DecryptLog log;
  gDecrypt = &log;
  ERF erf = {};
  Collector c;
  HFDI hfdi = CreateFakeContext(&erf);
  ASSERT_EQ(1, FDICopy(hfdi, "e.cab", "d/", 0, CollectorNotify, Decrypt, &c)) << erf.erfOper;
  EXPECT_EQ(plain, c.files[0].data);
  EXPECT_EQ((std::vector<FDIDECRYPTTYPE>{fdidtNEW_CABINET, fdidtNEW_FOLDER, fdidtDECRYPT, fdidtDECRYPT}), log.types);
  EXPECT_EQ((std::vector<uint16_t>{20, 4, 6, 6}), log.reserveSizes);
  EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0xCC}), log.firstReserveBytes);

  // -1 from the decrypt callback aborts.
  DecryptLog aborting;
  aborting.abortAt = 3;
  gDecrypt = &aborting;
  Collector c2;
  EXPECT_EQ(0, FDICopy(hfdi, "e.cab", "d/", 0, CollectorNotify, Decrypt, &c2));
  EXPECT_EQ(FDIERROR_USER_ABORT, erf.erfOper);
  FDIDestroy(hfdi);
  gDecrypt = nullptr;
}

// ---------------------------------------------------------------- contexts

TEST_F(FdiTest, OneContextServesSeveralCopiesInTurn) {
  Add("a.cab", TwoFiles());
  CabWriter other;
  other.AddStoredFolder({{"x", RandomBytes(1000, 12)}});
  Add("b.cab", other);
  ERF erf = {};
  HFDI hfdi = CreateFakeContext(&erf);
  for (int i = 0; i < 3; ++i) {
    Collector a, b;
    EXPECT_EQ(1, FDICopy(hfdi, "a.cab", "d/", 0, CollectorNotify, nullptr, &a));
    EXPECT_EQ(1, FDICopy(hfdi, "b.cab", "d/", 0, CollectorNotify, nullptr, &b));
    ASSERT_EQ(2u, a.files.size());
    EXPECT_EQ(Text("welcome\n"), a.files[1].data);
    EXPECT_EQ(RandomBytes(1000, 12), b.files[0].data);
  }
  EXPECT_EQ(0, FakeIo::Get().openHandles);
  EXPECT_EQ(1, FDIDestroy(hfdi));
}

TEST_F(FdiTest, HandlesThatAreNotLiveContextsAreRefused) {
  EXPECT_EQ(0, FDIDestroy(nullptr));
  EXPECT_EQ(0, FDICopy(nullptr, "a.cab", "d/", 0, CollectorNotify, nullptr, nullptr));
  int notAContext[64] = {};
  EXPECT_EQ(0, FDIDestroy(notAContext));
  FDICABINETINFO info;
  EXPECT_EQ(0, FDIIsCabinet(notAContext, 1, &info));
}

TEST_F(FdiTest, CreateReportsAllocationFailureAsErrorFive) {
  for (int at = 1; at <= 2; ++at) {
    FakeIo::Get().Reset();
    FakeIo::Get().failAllocAt = at;
    ERF erf = {};
    EXPECT_EQ(nullptr, CreateFakeContext(&erf));
    EXPECT_EQ(FDIERROR_ALLOC_FAIL, erf.erfOper);
    EXPECT_EQ(1, erf.fError);
    EXPECT_EQ(0, FakeIo::Get().liveBlocks);
  }
}

// ---------------------------------------------------------------- spanning

// A set of two stored cabinets: "one" in a.cab; "two" starts in a.cab and
// ends in b.cab through a data block split across them; "three" follows
// in b.cab's continued folder.
struct SpanSet {
  std::vector<uint8_t> one = RandomBytes(30000, 21);
  std::vector<uint8_t> two = RandomBytes(40000, 22);
  std::vector<uint8_t> three = RandomBytes(20000, 23);
  CabWriter a;
  CabWriter b;

  SpanSet() {
    std::vector<uint8_t> all = one;
    all.insert(all.end(), two.begin(), two.end());
    all.insert(all.end(), three.begin(), three.end());
    auto slice = [&all](size_t from, size_t n) {
      return std::vector<uint8_t>(all.begin() + static_cast<std::ptrdiff_t>(from),
                                  all.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    // Blocks: [0,32768) [32768,65536) split 20000 / 12768, [65536, 90000).
    a.setId = b.setId = 0x5E7;
    a.number = 0;
    b.number = 1;
    a.hasNext = true;
    a.nextName = "b.cab";
    a.nextDisk = "disk b";
    b.hasPrev = true;
    b.prevName = "a.cab";
    b.prevDisk = "disk a";
    CabFolder fa;
    fa.blocks.push_back(CabBlock{slice(0, 32768), 32768});
    fa.blocks.push_back(CabBlock{slice(32768, 20000), 0});
    a.folders.push_back(fa);
    CabFolder fb;
    fb.blocks.push_back(CabBlock{slice(52768, 12768), 32768});
    fb.blocks.push_back(CabBlock{slice(65536, 90000 - 65536), static_cast<uint16_t>(90000 - 65536)});
    b.folders.push_back(fb);
    a.files.push_back(CabFile{"one", 30000, 0, 0});
    a.files.push_back(CabFile{"two", 40000, 30000, 0xFFFE});
    b.files.push_back(CabFile{"two", 40000, 30000, 0xFFFD});
    b.files.push_back(CabFile{"three", 20000, 70000, 0});
  }
};

TEST_F(FdiTest, AFileContinuedIntoTheNextCabinetIsCompletedThroughTheNextCabinetNotification) {
  SpanSet set;
  FakeIo::Get().AddFile("d/a.cab", set.a.Build());
  FakeIo::Get().AddFile("other/b.cab", set.b.Build());

  ERF erf = {};
  HFDI hfdi = CreateFakeContext(&erf);
  Collector first;
  first.nextCabinetDirectory = "other/";  // the caller points at the folder of b.cab
  ASSERT_EQ(1, FDICopy(hfdi, "a.cab", "d/", 0, CollectorNotify, nullptr, &first)) << erf.erfOper;
  ASSERT_EQ(2u, first.files.size());
  EXPECT_EQ(set.one, first.files[0].data);
  EXPECT_EQ(set.two, first.files[1].data);
  std::vector<FDINOTIFICATIONTYPE> types;
  for (const Event& e : first.events) types.push_back(e.type);
  EXPECT_EQ((std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                              fdintCOPY_FILE, fdintNEXT_CABINET, fdintCLOSE_FILE_INFO,
                                              fdintENUMERATE}),
            types);
  const Event& next = first.events[5];
  EXPECT_EQ("b.cab", next.psz1);
  EXPECT_EQ("disk b", next.psz2);
  EXPECT_EQ("d/", next.psz3);
  EXPECT_EQ(FDIERROR_NONE, next.fdie);
  EXPECT_EQ(0xFFFE, first.events[4].iFolder);

  // The copy of the next cabinet: the continued file is partial, the one
  // after it comes from the folder the last copy was reading.
  Collector second;
  ASSERT_EQ(1, FDICopy(hfdi, "b.cab", "other/", 0, CollectorNotify, nullptr, &second)) << erf.erfOper;
  ASSERT_EQ(1u, second.files.size());
  EXPECT_EQ("three", second.files[0].name);
  EXPECT_EQ(set.three, second.files[0].data);
  EXPECT_EQ(fdintPARTIAL_FILE, second.events[2].type);
  EXPECT_EQ("two", second.events[2].psz1);
  EXPECT_EQ("a.cab", second.events[2].psz2);
  EXPECT_EQ("disk a", second.events[2].psz3);
  EXPECT_EQ(1, FDIDestroy(hfdi));
}

TEST_F(FdiTest, AFolderMovedIntoTheNextCabinetIsReadOnWithoutRestarting) {
  // "one" ends inside the split block, so it already needs b.cab; "two"
  // then continues from there without a second next-cabinet notification.
  SpanSet set;
  set.a.files[0].size = 40000;
  set.a.files[1].offset = 40000;
  set.a.files[1].size = 30000;
  FakeIo::Get().AddFile("d/a.cab", set.a.Build());
  FakeIo::Get().AddFile("d/b.cab", set.b.Build());
  std::vector<uint8_t> all = set.one;
  all.insert(all.end(), set.two.begin(), set.two.end());
  const CopyRun run = RunCopy("a.cab", "d/");
  ASSERT_EQ(1, run.result) << run.erf.erfOper;
  ASSERT_EQ(2u, run.collector.files.size());
  EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + 40000), run.collector.files[0].data);
  EXPECT_EQ(std::vector<uint8_t>(all.begin() + 40000, all.end()), run.collector.files[1].data);
  int nextCabinet = 0;
  for (const Event& e : run.collector.events) nextCabinet += e.type == fdintNEXT_CABINET;
  EXPECT_EQ(1, nextCabinet);
}

TEST_F(FdiTest, AContinuedFolderCannotBeReadFromTheMiddleOfTheSet) {
  SpanSet set;
  FakeIo::Get().AddFile("d/b.cab", set.b.Build());
  const CopyRun run = RunCopy("b.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, run.erf.erfOper);
  EXPECT_EQ(fdintPARTIAL_FILE, run.collector.events[2].type);
}

TEST_F(FdiTest, AMissingNextCabinetIsAskedForAgainWithTheErrorThenFails) {
  SpanSet set;
  FakeIo::Get().AddFile("d/a.cab", set.a.Build());
  const CopyRun run = RunCopy("a.cab", "d/");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, run.erf.erfOper);
  std::vector<FDIERROR> tries;
  for (const Event& e : run.collector.events) {
    if (e.type == fdintNEXT_CABINET) tries.push_back(e.fdie);
  }
  ASSERT_GE(tries.size(), 2u);
  EXPECT_EQ(FDIERROR_NONE, tries[0]);
  EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, tries[1]);
}

TEST_F(FdiTest, ANextCabinetOfAnotherSetOrWithOtherReservesIsRefused) {
  {
    SpanSet set;
    set.b.setId = 1;
    FakeIo::Get().AddFile("d/a.cab", set.a.Build());
    FakeIo::Get().AddFile("d/b.cab", set.b.Build());
    const CopyRun run = RunCopy("a.cab", "d/");
    EXPECT_EQ(FDIERROR_WRONG_CABINET, run.erf.erfOper);
    EXPECT_EQ(FDIERROR_WRONG_CABINET, run.collector.events[run.collector.events.size() - 1].fdie);
  }
  FakeIo::Get().Reset();
  {
    SpanSet set;
    set.b.number = 2;
    FakeIo::Get().AddFile("d/a.cab", set.a.Build());
    FakeIo::Get().AddFile("d/b.cab", set.b.Build());
    EXPECT_EQ(FDIERROR_WRONG_CABINET, RunCopy("a.cab", "d/").erf.erfOper);
  }
  FakeIo::Get().Reset();
  {
    SpanSet set;
    set.b.reserve = true;
    set.b.dataReserve = 4;
    FakeIo::Get().AddFile("d/a.cab", set.a.Build());
    FakeIo::Get().AddFile("d/b.cab", set.b.Build());
    EXPECT_EQ(FDIERROR_RESERVE_MISMATCH, RunCopy("a.cab", "d/").erf.erfOper);
  }
  FakeIo::Get().Reset();
  {
    SpanSet set;
    Collector c;
    c.answerNextCabinet = -1;
    FakeIo::Get().AddFile("d/a.cab", set.a.Build());
    FakeIo::Get().AddFile("d/b.cab", set.b.Build());
    EXPECT_EQ(FDIERROR_USER_ABORT, RunCopy("a.cab", "d/", c).erf.erfOper);
  }
}

TEST_F(FdiTest, ASplitBlockWithoutANextCabinetIsCorrupt) {
  SpanSet set;
  set.a.hasNext = false;
  FakeIo::Get().AddFile("d/a.cab", set.a.Build());
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, RunCopy("a.cab", "d/").erf.erfOper);
}

}  // namespace
}  // namespace cabtest
