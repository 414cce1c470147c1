// The parts of the file services that both backends share: the fault hook
// for tests and the crash-safe replacement of a small file.
#include "platform/file_system.h"

#include <atomic>
#include <mutex>

namespace plat {

namespace {

std::atomic<bool> g_hookInstalled{false};
std::mutex g_hookLock;
FileFaultHook g_hook;

}  // namespace

void SetFileFaultHookForTesting(FileFaultHook hook) {
  std::lock_guard<std::mutex> lock(g_hookLock);
  g_hook = std::move(hook);
  g_hookInstalled.store(static_cast<bool>(g_hook), std::memory_order_release);
}

bool FileFaultHookInstalled() { return g_hookInstalled.load(std::memory_order_acquire); }

bool FileFaultInjected(FileFault operation, const std::string& path) {
  if (!FileFaultHookInstalled()) return false;
  FileFaultHook hook;
  {
    std::lock_guard<std::mutex> lock(g_hookLock);
    hook = g_hook;
  }
  if (!hook || !hook(operation, path)) return false;
  SetLastError(operation == FileFault::kMove ? kErrorAccessDenied : kErrorDiskFull);
  return true;
}

ReplaceResult ReplaceFileContents(const std::string& path, const void* data, uint32_t size, bool toDisk) {
  const std::string temporary = path + ".tmp";
  File file;
  // A temporary file left by an earlier crash may still carry the
  // read-only attribute of the file it was copied from; it is ours to reuse.
  SetAttributes(temporary, kAttrNormal);
  if (!file.Open(temporary, File::kWrite, File::kShareNone, File::kCreateAlways)) return ReplaceResult::kCreateFailed;
  uint32_t done = 0;
  bool written = (size == 0 || (file.Write(data, size, &done) && done == size)) && (!toDisk || file.Flush());
  file.Close();
  written = written && (toDisk ? MoveReplaceDurably(temporary, path) : MoveReplace(temporary, path));
  if (!written) {
    const uint32_t error = LastError();
    RemoveFile(temporary);
    SetLastError(error);
    return ReplaceResult::kWriteFailed;
  }
  return ReplaceResult::kDone;
}

}  // namespace plat
