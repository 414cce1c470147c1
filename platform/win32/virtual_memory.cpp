#include <windows.h>

#include <atomic>

#include "platform/virtual_memory.h"

namespace plat {

namespace {

std::atomic<size_t> g_limitForTesting{0};

}  // namespace

void* VirtualMemoryAlloc(size_t size) {
  const size_t limit = g_limitForTesting.load(std::memory_order_relaxed);
  if (size == 0 || (limit != 0 && size > limit)) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void VirtualMemoryFree(void* block, size_t size) {
  if (block == nullptr) return;
  // Decommit first so the commit charge drops even if the release were to
  // fail; the release needs size 0.
  ::VirtualFree(block, size, MEM_DECOMMIT);
  ::VirtualFree(block, 0, MEM_RELEASE);
}

void SetVirtualMemoryLimitForTesting(size_t maxBytes) {
  g_limitForTesting.store(maxBytes, std::memory_order_relaxed);
}

}  // namespace plat
