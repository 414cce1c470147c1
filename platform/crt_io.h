// C-runtime style file and memory callbacks, in the shapes the cabinet
// decoder (apply/cab/fdi.h) takes them: the engine hands these to FDICreate.
//
// On Windows they are the C runtime's own _open/_read/_write/_close/_lseek
// and malloc/free. On POSIX the same contract is kept over file
// descriptors: the C runtime's flag and permission values below are mapped,
// engine paths go through ToNativePath (so '\\' separators and letter case
// work as on Windows), a folder cannot be opened, and errno values are those
// the C runtime uses.
//
// Threads: every function may be called from any thread; descriptors are
// not shared between threads by the callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace plat {

// _open flags (the Microsoft C runtime's values).
constexpr int kCrtReadOnly = 0x0000;
constexpr int kCrtWriteOnly = 0x0001;
constexpr int kCrtReadWrite = 0x0002;
constexpr int kCrtAppend = 0x0008;
constexpr int kCrtRandom = 0x0010;
constexpr int kCrtSequential = 0x0020;
constexpr int kCrtTemporary = 0x0040;
constexpr int kCrtNoInherit = 0x0080;
constexpr int kCrtCreate = 0x0100;
constexpr int kCrtTruncate = 0x0200;
constexpr int kCrtExclusive = 0x0400;
constexpr int kCrtShortLived = 0x1000;
constexpr int kCrtText = 0x4000;
constexpr int kCrtBinary = 0x8000;
// _open permission bits: without kCrtPermWrite a created file is read-only.
constexpr int kCrtPermRead = 0x0100;
constexpr int kCrtPermWrite = 0x0080;

// The combinations the engine uses.
constexpr int kCrtOpenReadBinary = kCrtBinary | kCrtReadOnly;  // 0x8000
constexpr int kCrtOpenWriteBinary =
    kCrtBinary | kCrtTruncate | kCrtCreate | kCrtSequential | kCrtWriteOnly;  // 0x8321
constexpr int kCrtPermReadWrite = kCrtPermRead | kCrtPermWrite;              // 0x180

// errno values the C runtime reports (the same numbers on both backends).
constexpr int kCrtErrNoEnt = 2;
constexpr int kCrtErrBadF = 9;
constexpr int kCrtErrAccess = 13;
constexpr int kCrtErrExist = 17;
constexpr int kCrtErrInval = 22;
constexpr int kCrtErrMFile = 24;
constexpr int kCrtErrNoSpc = 28;

// _open: a descriptor, or -1 with CrtErrno() set.
intptr_t CrtOpen(const char* path, int oflag, int pmode);
// _read: bytes read (0 at the end), or 0xFFFFFFFF on failure.
uint32_t CrtRead(intptr_t fd, void* buffer, uint32_t count);
// _write: bytes written, or 0xFFFFFFFF on failure.
uint32_t CrtWrite(intptr_t fd, const void* buffer, uint32_t count);
// _close: 0, or -1 on failure.
int CrtClose(intptr_t fd);
// _lseek with origin 0 (set), 1 (current) or 2 (end): the new position, or
// -1 (also for a position beyond 2 GB - 1).
int32_t CrtSeek(intptr_t fd, int32_t offset, int origin);
// errno of the calling thread after a failed call above.
int CrtErrno();

// One piece of a gathered write.
struct WritePiece {
  const void* data;
  size_t size;
};
// Writes the pieces to a stdio file in their order, as one fwrite of each
// would, but with as few system calls as the system allows (writev on
// POSIX). Bytes the stream still buffers go first. False when not every
// byte was written.
bool WriteGathered(FILE* file, const WritePiece* pieces, size_t count);

// malloc/free with the decoder's allocation size type.
void* CrtAlloc(uint32_t size);
void CrtFree(void* block);

}  // namespace plat
