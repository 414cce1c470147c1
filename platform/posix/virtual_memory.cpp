#include <sys/mman.h>

#include <atomic>

#include "platform/file_system.h"
#include "platform/virtual_memory.h"

namespace plat {

namespace {

std::atomic<size_t> g_limitForTesting{0};

}  // namespace

void* VirtualMemoryAlloc(size_t size) {
  const size_t limit = g_limitForTesting.load(std::memory_order_relaxed);
  if (size == 0 || (limit != 0 && size > limit)) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  // Anonymous private pages are committed on first touch; that is as close
  // to VirtualAlloc's reserve-and-commit as Linux gets without pre-faulting
  // hundreds of megabytes that a load is about to touch anyway.
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  return block;
}

void VirtualMemoryFree(void* block, size_t size) {
  if (block != nullptr && size != 0) munmap(block, size);
}

void SetVirtualMemoryLimitForTesting(size_t maxBytes) {
  g_limitForTesting.store(maxBytes, std::memory_order_relaxed);
}

}  // namespace plat
