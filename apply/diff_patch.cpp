// CTaskPatch::DiffPatch: a delta section. A type-1 record's extracted file
// is a delta that rebuilds the client's file; a type-2 record's is the whole
// new file, moved into place.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "apply/delta/delta_decoder.h"
#include "apply/diff_patch_texts.h"
#include "apply/patch_moves.h"
#include "apply/task_patch.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "streams/cpb_error.h"
#include "streams/file_map_stream.h"

struct CTaskPatch::DiffFile {
  uint32_t index;  // 1-based position in the list
  uint32_t count;  // records in the list
  const PatchFileInfo& info;
  std::string clientPath;
  std::string deltaPath;  // the extracted delta or whole file
  std::string tempPath;   // the file decoder's output
  uint32_t start;         // tick count when the file was begun
};

struct CTaskPatch::DiffTimes {
  uint32_t runStart = 0;
  uint32_t lastIO = 0;  // loading the last delta
  uint32_t totalIO = 0;
  uint32_t lastMove = 0;  // the last whole-file move
  uint32_t totalMove = 0;
};

namespace {

constexpr uint32_t kMegabyte = 1048576;
constexpr uint32_t kStreamMb = 100;
// The original gets less at each attempt: it is the largest of the three
// for big files, and a smaller buffer still serves most of them.
constexpr uint32_t kOrgStreamMb[] = {100, 50, 30};

int32_t AsInt(uint64_t value) { return static_cast<int32_t>(value); }
uint32_t AsU32(uint64_t value) { return static_cast<uint32_t>(value); }
uint32_t Since(uint32_t start) { return plat::TickCount() - start; }

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// fopen of an engine path; *error is the C runtime's error number, 0 when
// the file opened.
UniqueFile OpenFile(const std::string& path, const char* mode, int* error) {
  errno = 0;
  UniqueFile file(fopen(plat::ToNativePath(path).c_str(), mode));
  *error = file ? 0 : (errno != 0 ? errno : ENOENT);
  return file;
}

void GiveBuffer(vestrel::CVirtualMemoryStream& stream, const char* requestText, uint32_t megabytes) {
  if (stream.GetBufferSize() != 0) return;
  LogWrite(kLogDetail, requestText, AsInt(megabytes));
  stream.SetBufferSize(megabytes * kMegabyte);
}

void EnsureFolderOf(const std::string& path) {
  std::string folder = plat::FolderOf(path);
  while (!folder.empty() && plat::IsPathSeparator(folder.back())) folder.pop_back();
  if (folder.empty() || plat::DirectoryExists(folder)) return;
  if (!RecCreateDirectory(folder)) LogWrite(kLogError, "Failed to RecCreateDirectory : Path [%s]", folder.c_str());
}

// The run's own time text: all of the run, even when it took no measurable
// time.
std::string RunTimeText(uint32_t runMs) {
  char text[96];
  const int32_t ms = AsInt(runMs);
  snprintf(text, sizeof text, "%-7d %02d:%02d (sec) - %3d%%", ms, (ms / 1000) / 60, (ms / 1000) % 60, 100);
  return text;
}

}  // namespace

uint32_t CTaskPatch::DiffPatch() {
  LogWrite(kLogTrace, "DiffPatch() begins : Section [%d]", AsInt(m_Section));
  DiffTimes times;
  times.runStart = plat::TickCount();
  const uint32_t count = static_cast<uint32_t>(m_Files.size());
  uint32_t done = m_FileProgress.Read();
  // The list's diff test took such a count for none done; so must the
  // patch, or it would skip every file and report the section patched.
  if (!IsResumePoint(done, count)) done = 0;
  LogWrite(kLogDetail, "Last Patched progress is Ver [%d] Section [%d]", AsInt(m_Version), AsInt(m_Section));

  const double step = count != 0 ? 100.0 / count : 0.0;
  float progress = static_cast<float>(step * done);
  m_Host.PostTaskEvent(kEventTypePatchProgress, static_cast<uint32_t>(progress), m_Section);

  for (uint32_t index = done + 1; index <= count; ++index) {
    const uint32_t fileStart = plat::TickCount();
    if (m_Host.Stopping()) return 2;
    const PatchFileInfo& info = m_Files[index - 1];
    progress = static_cast<float>(progress + step);
    m_Host.PostTaskEvent(kEventTypePatchProgress, static_cast<uint32_t>(progress), m_Section, info.name);
    LogWrite(kLogDetail, "Tried to diff patch : File [%s]", info.name.c_str());

    char tempName[32];
    snprintf(tempName, sizeof tempName, "patchtemp%u.dat", index);
    const DiffFile file{index,
                        count,
                        info,
                        m_Settings.workingFolder + info.name,
                        m_Settings.tempFolder + info.name,
                        m_Settings.outputFolder + tempName,
                        fileStart};
    EnsureFolderOf(file.clientPath);
    plat::SetAttributes(file.clientPath, plat::kAttrNormal);

    uint32_t result = 0;
    switch (info.btFileType) {
      case kFileTypeDelta:
        result = ApplyDelta(file, times);
        break;
      case kFileTypeWhole:
        result = MoveWholeFile(file, times);
        break;
      default:
        return 13;
    }
    if (result != 0) return result;
    m_FileProgress.Write(index);
  }

  m_FileProgress.Delete();
  const uint32_t runMs = Since(times.runStart);
  LogWrite(kLogDetail, "-----------------------------------------");
  LogWrite(kLogDetail, "TotalMoveTime     = %s", FormatElapsedShare(AsInt(times.totalMove), AsInt(runMs)).c_str());
  LogWrite(kLogDetail, "TotalChecksumTime = %s", FormatElapsedShare(0, AsInt(runMs)).c_str());
  LogWrite(kLogDetail, "TotalIOTime       = %s", FormatElapsedShare(AsInt(times.totalIO), AsInt(runMs)).c_str());
  LogWrite(kLogDetail, "TotalPatchTime    = %s", FormatElapsedShare(0, AsInt(runMs)).c_str());
  LogWrite(kLogDetail, "TotalTime         = %s", RunTimeText(runMs).c_str());
  return 0;
}

void CTaskPatch::AllocateStreams() {
  for (uint32_t orgMb : kOrgStreamMb) {
    try {
      GiveBuffer(m_PchStream, kPchAllocText, kStreamMb);
      GiveBuffer(m_OrgStream, kOrgAllocText, orgMb);
      GiveBuffer(m_OutStream, kOutAllocText, kStreamMb);
      return;
    } catch (vestrel::_CPB_ERROR) {
      // The next attempt asks less for the original; after the last one
      // the file decoder does without.
    }
  }
}

uint32_t CTaskPatch::ApplyDelta(const DiffFile& file, DiffTimes& times) {
  AllocateStreams();
  const PatchFileInfo& info = file.info;
  const char* client = file.clientPath.c_str();
  const bool sizesKnown = info.OrgFileSize != 0 && info.NewFileSize != 0;
  if (sizesKnown) {
    const uint64_t current = GetFileSize64(file.clientPath);
    LogWrite(kLogDetail, "%s -> Curr:%x, It:%x", client, AsU32(current), AsU32(info.OrgFileSize));
    if (current != info.OrgFileSize) {
      LogWrite(kLogError, kSizeBeforeErrorText, client, AsInt(current), AsInt(info.OrgFileSize));
      return 18;
    }
    LogWrite(kLogDetail, kSizeBeforeOkText, AsU32(current), AsU32(info.OrgFileSize));
  }
  const uint64_t before = GetFileSize64(file.clientPath);
  const CDeltaDecoder decoder{};

  bool deltaLoaded = false;
  const uint32_t loadStart = plat::TickCount();
  try {
    m_PchStream.LoadFromFile(file.deltaPath);
    deltaLoaded = true;
  } catch (vestrel::_CPB_ERROR error) {
    LogWrite(kLogError, "Error! e = %d", static_cast<int>(error));
    if (error == vestrel::CPB_ERROR_FILE_NOT_FOUND) {
      LogWrite(kLogError, "Error! e = %d = FILE NOT FOUND, %s", static_cast<int>(error), info.name.c_str());
      return 11;
    }
    if (error != vestrel::CPB_ERROR_NOT_ENOUGH_MEMORY) {
      LogWrite(kLogError, "Error! e = %d = FILE NOT FOUND, %s, LastError %d", static_cast<int>(error),
               info.name.c_str(), AsInt(plat::LastError()));
      return 11;
    }
    LogWrite(kLogError, "Error! e = %d = NOT ENOUGH MEMORY, %s, LastError %d", static_cast<int>(error),
             info.name.c_str(), AsInt(plat::LastError()));
  }
  times.lastIO = Since(loadStart);
  times.totalIO += times.lastIO;

  bool patchedInPlace = false;
  uint32_t describedInPlace = 0;
  if (deltaLoaded && sizesKnown && before == info.NewFileSize && decoder.CanPatchInPlace(m_PchStream)) {
    LogWrite(kLogTrace, kInPlaceText, client, AsInt(before), AsInt(info.NewFileSize));
    vestrel::TFileMapStream target(file.clientPath);
    if (target.IsOpen()) {
      const uint32_t result = decoder.DecodeInPlace(target, m_PchStream, &describedInPlace);
      if (result != kDeltaOk) return result;
      patchedInPlace = true;
    } else {
      LogWrite(kLogError, kInPlaceFailedText, client);
    }
  }

  uint32_t originalSize = 0;  // for the report: the original this file was rebuilt from
  if (!patchedInPlace) {
    // Mapped, the original needs no read into the stream's block and no
    // copy: the decoder writes its equal runs to the file straight from the
    // mapping. The mapping is gone before the output moves over the client
    // file, which Windows would refuse while it is mapped. An empty file
    // cannot be mapped, and a failed mapping loses nothing: both load.
    std::optional<vestrel::TFileMapStream> mapped;
    if (deltaLoaded && StreamsHaveMemory()) {
      mapped.emplace(file.clientPath, plat::MapAccess::kRead);
      if (!mapped->IsOpen()) mapped.reset();
    }
    bool originalLoaded = mapped.has_value();
    if (!mapped) {
      try {
        m_OrgStream.LoadFromFile(file.clientPath);
        originalLoaded = true;
      } catch (vestrel::_CPB_ERROR error) {
        if (error == vestrel::CPB_ERROR_FILE_NOT_FOUND) {
          LogWrite(kLogError, "Error! e = %d = FILE NOT FOUND, %s", static_cast<int>(error), info.name.c_str());
          return 11;
        }
        if (error != vestrel::CPB_ERROR_NOT_ENOUGH_MEMORY) {
          LogWrite(kLogError, "Error!_2 e = %d = FILE NOT FOUND, %s, LastError %d", static_cast<int>(error),
                   info.name.c_str(), AsInt(plat::LastError()));
          return 11;
        }
        LogWrite(kLogError, "Error! e = %d = NOT ENOUGH MEMORY, %s, LastError %d", static_cast<int>(error),
                 info.name.c_str(), AsInt(plat::LastError()));
      }
    }
    originalSize = mapped ? mapped->GetSize() : m_OrgStream.GetDataSize();
    // A load that failed for memory can leave a block behind with no data
    // in it; decoding from that would write a wrong file.
    const bool inMemory = deltaLoaded && originalLoaded && StreamsHaveMemory();
    if (inMemory) {
      LogWrite(kLogTrace, kMemoryPatchText, client, AsInt(before), AsInt(info.NewFileSize));
      // Written apart and moved in only when whole: a write that fails half
      // way (a full disk) must not cost the client file, whose only other
      // copy is in memory.
      m_OutStream.SetFileName(file.tempPath);
      uint32_t result =
          mapped ? decoder.DecodeMemory(mapped->GetMemory(), originalSize, m_PchStream.GetMemory(),
                                        m_PchStream.GetDataSize(), m_OutStream, nullptr)
                 : decoder.DecodeMemory(m_OrgStream, m_PchStream, m_OutStream, nullptr);
      mapped.reset();
      if (result == kDeltaOk) result = MoveOutputIntoPlace(file);
      if (result != kDeltaOk) {
        plat::RemoveFile(file.tempPath);
        return result;
      }
    } else {
      bool opened = false;
      const uint32_t result = DecodeThroughFiles(file, &opened);
      if (!opened) {
        // The decoder never ran, so the client file is as it was and must
        // not count as patched, whatever its size.
        if (!sizesKnown) return 11;
        const uint32_t sizeResult = CheckSizeAfter(file, GetFileSize64(file.clientPath));
        if (sizeResult != 0) return sizeResult;
        LogWrite(kLogError, "File Open Error : not patched, %s", client);
        return 18;
      }
      if (result != kDeltaOk) return result;
    }
  }

  // In place the file keeps its length whatever the delta rebuilds, so the
  // size that counts is the one the delta describes: fewer bytes would
  // leave the old file's tail behind. The other decoders' output is the
  // client file now.
  const uint64_t rebuilt = patchedInPlace ? describedInPlace : GetFileSize64(file.clientPath);
  const uint32_t sizeResult = CheckSizeAfter(file, rebuilt);
  if (sizeResult != 0) return sizeResult;
  plat::RemoveFile(file.deltaPath);
  plat::RemoveFile(file.tempPath);
  LogWrite(kLogDetail,
           "E[Thread:%d] (%03d/%03d) Diff. %-5dms %7dms. %s (%d)\tChecksumTime = %dms\tIOTime       = %dms\t"
           "PatchTime    = %dms\tMoveTime     = %dms\tOrgFileSize  = %u\tNewFileSize  = %u\t",
           0, AsInt(file.index), AsInt(file.count), AsInt(Since(file.start)), AsInt(Since(times.runStart)), client,
           AsInt(originalSize), 0, AsInt(times.lastIO), 0, AsInt(times.lastMove),
           AsU32(info.OrgFileSize), AsU32(info.NewFileSize));
  return 0;
}

bool CTaskPatch::StreamsHaveMemory() const {
  return m_PchStream.GetMemory() != nullptr && m_OrgStream.GetMemory() != nullptr &&
         m_OutStream.GetMemory() != nullptr;
}

uint32_t CTaskPatch::DecodeThroughFiles(const DiffFile& file, bool* opened) {
  const char* client = file.clientPath.c_str();
  int orgError = 0;
  int pchError = 0;
  int outError = 0;
  UniqueFile original = OpenFile(file.clientPath, "rb", &orgError);
  UniqueFile delta = OpenFile(file.deltaPath, "rb", &pchError);
  UniqueFile output = OpenFile(file.tempPath, "wb", &outError);
  if (!original || !delta || !output) {
    LogWrite(kLogError, "File Open Error : Org [%d] Pch [%d] Out [%d]", orgError, pchError, outError);
    if (output) {
      output.reset();
      plat::RemoveFile(file.tempPath);
    }
    *opened = false;
    return 0;
  }
  *opened = true;

  LogWrite(kLogTrace, kFilePatchText, client);
  const CDeltaDecoder decoder{};
  uint32_t result = decoder.DecodeFile(original.get(), delta.get(), output.get());
  LogWrite(kLogError, "old patch : %s, %d", client, AsInt(result));
  if (m_OrgStream.GetMemory() == nullptr) LogWrite(kLogError, "m_OrgStream.GetMemory() == NULL");
  if (m_PchStream.GetMemory() == nullptr) LogWrite(kLogError, "m_PchStream.GetMemory() == NULL");
  if (m_OutStream.GetMemory() == nullptr) LogWrite(kLogError, "m_OutStream.GetMemory() == NULL");

  original.reset();
  delta.reset();
  if (fclose(output.release()) != 0 && result == kDeltaOk) result = kDeltaOutputFailed;
  // A failed output is incomplete: it never replaces the client's file.
  if (result != kDeltaOk) {
    plat::RemoveFile(file.tempPath);
    return result;
  }

  const uint32_t moved = MoveOutputIntoPlace(file);
  if (moved != 0) plat::RemoveFile(file.tempPath);
  return moved;
}

uint32_t CTaskPatch::MoveOutputIntoPlace(const DiffFile& file) {
  plat::SetAttributes(file.tempPath, plat::kAttrNormal);
  bool moved = MovePatchedFile(file.tempPath, file.clientPath);
  // The client file may be held for a moment by another program.
  for (uint32_t retry = 0; !moved && retry < kDecodedMoveRetries; ++retry) {
    WaitBeforeRetry(kDecodedRetryWaitMs);
    moved = MovePatchedFile(file.tempPath, file.clientPath);
  }
  if (!moved) {
    LogWrite(kLogError, "Move Error! = %s -> %s. ErrCode = %d", file.tempPath.c_str(), file.clientPath.c_str(),
             AsInt(plat::LastError()));
    return 12;
  }
  return 0;
}

uint32_t CTaskPatch::CheckSizeAfter(const DiffFile& file, uint64_t size) const {
  const PatchFileInfo& info = file.info;
  if (info.OrgFileSize == 0 || info.NewFileSize == 0) return 0;
  const char* client = file.clientPath.c_str();
  LogWrite(kLogDetail, "%s -> Curr:%x, It:%x", client, AsU32(size), AsU32(info.NewFileSize));
  if (size != info.NewFileSize) {
    LogWrite(kLogError, kSizeAfterErrorText, client, AsInt(size), AsInt(info.NewFileSize));
    return 18;
  }
  LogWrite(kLogDetail, kSizeAfterOkText, AsU32(size), AsU32(info.NewFileSize));
  return 0;
}

uint32_t CTaskPatch::MoveWholeFile(const DiffFile& file, DiffTimes& times) {
  if (m_Host.Stopping()) return 2;
  const uint32_t moveStart = plat::TickCount();
  EnsureFolderOf(file.clientPath);
  plat::SetAttributes(file.clientPath, plat::kAttrNormal);
  if (!MovePatchedFile(file.deltaPath, file.clientPath)) {
    // The old file is still in place: the section must not count as done.
    LogWrite(kLogError, "Move Error! = %s -> %s. ErrCode = %d", file.deltaPath.c_str(), file.clientPath.c_str(),
             AsInt(plat::LastError()));
    return 12;
  }
  times.lastMove = Since(moveStart);
  times.totalMove += times.lastMove;
  plat::RemoveFile(file.deltaPath);
  LogWrite(kLogDetail,
           "E[Thread:%d] (%03d/%03d) Move. %-5dms %7dms. %s (%d)\tChecksumTime = %dms\tIOTime       = %dms\t"
           "PatchTime    = %dms\tMoveTime     = %dms\t",
           0, AsInt(file.index), AsInt(file.count), AsInt(Since(file.start)), AsInt(Since(times.runStart)),
           file.clientPath.c_str(), 0, 0, AsInt(times.lastIO), 0, AsInt(times.lastMove));
  return 0;
}
