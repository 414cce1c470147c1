// Large, long-lived memory blocks straight from the system's virtual-memory
// allocator (VirtualAlloc/VirtualFree on Windows, anonymous mmap/munmap on
// POSIX). Blocks are reserved and committed together, read-write, and are
// zero-filled when they arrive. Used by the vestrel memory streams, whose
// blocks are tens to hundreds of megabytes and outlive many files.
//
// Threads: every function may be called from any thread.
#pragma once

#include <cstddef>

namespace plat {

// A committed read-write block of `size` bytes, or null (LastError
// kErrorNotEnoughMemory, or the system's own code on Windows) when the
// system refuses it. A size of 0 gives null.
void* VirtualMemoryAlloc(size_t size);

// Decommits and releases a block from VirtualMemoryAlloc. `size` is the size
// it was allocated with. Null is ignored.
void VirtualMemoryFree(void* block, size_t size);

// Test seam: requests larger than `maxBytes` fail as if the system had
// refused them (0 lifts the limit). Lets tests reach allocation failures
// without exhausting the machine.
void SetVirtualMemoryLimitForTesting(size_t maxBytes);

}  // namespace plat
