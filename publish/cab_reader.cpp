#include "publish/cab_reader.h"

#include "apply/cab/fdi.h"
#include "platform/crt_io.h"
#include "platform/path.h"

namespace publish {

namespace {

struct Sink {
  std::string prefix;
  std::vector<CabEntry> files;
  std::string failedPath;
};

intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  auto* sink = static_cast<Sink*>(note->pv);
  if (type == fdintCOPY_FILE) {
    CabEntry entry;
    entry.name = note->psz1;
    entry.size = static_cast<uint32_t>(note->cb);
    entry.path = sink->prefix + std::to_string(sink->files.size());
    const intptr_t fd = plat::CrtOpen(entry.path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
    if (fd == -1) {
      sink->failedPath = entry.path;
      return -1;
    }
    sink->files.push_back(entry);
    return fd;
  }
  if (type == fdintCLOSE_FILE_INFO) return plat::CrtClose(note->hf) == 0 ? 1 : 0;
  return type == fdintCABINET_INFO ? 0 : 1;
}

const char* FdiErrorText(int code) {
  static const char* const kTexts[] = {"no error",
                                       "cabinet not found",
                                       "not a cabinet",
                                       "unknown cabinet version",
                                       "corrupt cabinet",
                                       "out of memory",
                                       "unknown compression type",
                                       "decompression failed",
                                       "cannot write a target file",
                                       "reserve sizes do not match",
                                       "wrong next cabinet",
                                       "aborted"};
  return code >= 0 && code <= 11 ? kTexts[code] : "unknown error";
}

}  // namespace

CabContents ExtractCabinet(const std::string& cabPath, const std::string& scratch, const std::string& stem) {
  CabContents contents;
  Sink sink;
  sink.prefix = scratch + stem;
  ERF erf = {};
  HFDI context = FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite,
                           plat::CrtClose, plat::CrtSeek, cpuUNKNOWN, &erf);
  if (context) {
    const std::string folder = plat::FolderOf(cabPath);
    const std::string name = plat::FileNameOf(cabPath);
    contents.ok = FDICopy(context, name.c_str(), folder.c_str(), 0, Notify, nullptr, &sink) == 1;
    FDIDestroy(context);
  }
  contents.files = std::move(sink.files);
  if (!contents.ok) {
    contents.fdiError = erf.erfOper;
    contents.error = std::string("FDI error ") + std::to_string(erf.erfOper) + " (" + FdiErrorText(erf.erfOper) + ")";
    if (!sink.failedPath.empty()) contents.error += ": cannot create " + sink.failedPath;
  }
  return contents;
}

}  // namespace publish
