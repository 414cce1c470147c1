#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/url_moniker.h"
#include "platform/win32/call_worker.h"

namespace plat {

namespace {

// The side file a download writes; whoever lets go of it last removes what
// is left of it, so a download left behind takes its side file with it.
struct SideFile {
  std::string path;
  HRESULT result = E_FAIL;
  explicit SideFile(std::string p) : path(std::move(p)) {}
  SideFile(const SideFile&) = delete;
  SideFile& operator=(const SideFile&) = delete;
  ~SideFile() { RemoveFile(path); }
};

std::atomic<uint32_t> g_sideFileCount{0};

}  // namespace

bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort) {
  // Each download has a side file of its own: one left behind by a stop may
  // still be writing while the next attempt runs.
  auto side = std::make_shared<SideFile>(localPath + ".moniker" + std::to_string(::GetCurrentProcessId()) + "." +
                                         std::to_string(++g_sideFileCount));
  CallWorker worker;
  if (!worker.Run([side, url] { side->result = ::URLDownloadToFileA(nullptr, url.c_str(), side->path.c_str(), 0, nullptr); },
                  abort, 0)) {
    return false;
  }
  return side->result == S_OK && MoveReplace(side->path, localPath);
}

}  // namespace plat
