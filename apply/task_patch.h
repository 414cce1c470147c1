// CTaskPatch: applies one extracted section to the client's files, either
// by moving whole files into place (FilePatch) or by rebuilding them from
// binary deltas (DiffPatch), and reports the outcome to the engine.
//
// Built and run by CTaskExtract on the worker's thread, never queued by
// itself. The three streams get their memory on the first delta and keep it
// for the rest of the section; a whole-file section never allocates them.
//
// Result codes: 0 success; 2 the engine is stopping; 11 a folder could not
// be made, or an extracted file, a delta or a client file could not be
// loaded or opened; 12 a file could not be moved into place; 13 a record of
// unknown file type; 17 the patched file could not be written; 18 a client
// file's size differs from the list before or after its delta, or the file
// decoder could not open its files for a record that gives both sizes;
// 14, 15 and 16 a delta the decoder refused (delta_decoder.h). Whenever a
// delta is refused, and whenever the file decoder fails, the client file is
// left as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/task_host.h"
#include "engine/patch_file.h"
#include "engine/progress_records.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"
#include "workers/task.h"

class CTaskPatch : public CTask {
 public:
  CTaskPatch(TaskHost& host, const EngineSettings& settings, uint32_t version, uint32_t section, uint32_t isDiff,
             const std::vector<PatchFileInfo>& files);
  ~CTaskPatch() override;

  // Runs FilePatch or DiffPatch and posts either "section patched" or the
  // result as an engine error. Always 0: the task is finished.
  int32_t Process() override;

  // Moves every listed file from the temp folder to the working folder.
  uint32_t FilePatch();
  // Applies every listed file from the one after the last finished (the
  // section's file progress record) to the end, recording each.
  uint32_t DiffPatch();

 private:
  struct DiffFile;   // one record of a diff patch with its paths
  struct DiffTimes;  // the run's timings for the log

  void AllocateStreams();
  uint32_t ApplyDelta(const DiffFile& file, DiffTimes& times);
  // The three streams all got their blocks: a memory decode can run.
  bool StreamsHaveMemory() const;
  uint32_t DecodeThroughFiles(const DiffFile& file, bool* opened);
  // Moves a decoder's finished output over the client file, retrying while
  // another program holds it: 0, or 12 (logged).
  uint32_t MoveOutputIntoPlace(const DiffFile& file);
  // The size check after a delta, of the rebuilt file's size: 0, or 18.
  uint32_t CheckSizeAfter(const DiffFile& file, uint64_t size) const;
  uint32_t MoveWholeFile(const DiffFile& file, DiffTimes& times);

  vestrel::CVirtualMemoryStream m_PchStream;      // the delta
  vestrel::CVirtualMemoryStream m_OrgStream;      // the client's current file
  vestrel::CVirtualMemoryFileStream m_OutStream;  // write buffer of the patched file

  TaskHost& m_Host;
  EngineSettings m_Settings;
  uint32_t m_Version;
  uint32_t m_Section;
  uint32_t m_IsDiff;
  std::vector<PatchFileInfo> m_Files;
  FileProgressRecord m_FileProgress;  // the section's "prg_f<section>.list"
};
