// libFuzzer target: FDIIsCabinet and FDICopy over one in-memory cabinet,
// every file accepted and written to a sink, with the allocations and
// handles counted so that a leak is a crash too.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "apply/cab/fdi.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

const uint8_t* gData = nullptr;
size_t gSize = 0;
uint32_t gPosition = 0;
int gLiveBlocks = 0;
int gOpenHandles = 0;
uint64_t gWritten = 0;

constexpr intptr_t kCabinet = 1;
constexpr intptr_t kOutput = 2;

void* Alloc(uint32_t size) {
  void* block = malloc(size ? size : 1);
  if (block) ++gLiveBlocks;
  return block;
}

void Free(void* block) {
  if (!block) return;
  --gLiveBlocks;
  free(block);
}

intptr_t Open(const char* path, int oflag, int) {
  if (oflag & 0x0100) return -1;  // outputs come from the notification
  if (strcmp(path, "dir/fuzz.cab") != 0) return -1;  // no next cabinet
  ++gOpenHandles;
  gPosition = 0;
  return kCabinet;
}

uint32_t Read(intptr_t hf, void* buffer, uint32_t count) {
  if (hf != kCabinet) return 0xFFFFFFFFu;
  uint32_t n = gPosition < gSize ? static_cast<uint32_t>(gSize - gPosition) : 0;
  if (n > count) n = count;
  memcpy(buffer, gData + gPosition, n);
  gPosition += n;
  return n;
}

// Past this much output a write comes up short, which ends the copy with
// a target file failure: a small cabinet can describe gigabytes, and every
// execution must stay quick.
constexpr uint64_t kOutputLimit = 1u << 18;

uint32_t Write(intptr_t hf, const void* buffer, uint32_t count) {
  FUZZ_CHECK(hf == kOutput);
  if (gWritten + count > kOutputLimit) return count / 2;
  // Touch every byte so that a bad pointer shows.
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  uint8_t x = 0;
  for (uint32_t i = 0; i < count; ++i) x ^= p[i];
  gWritten += count + (x & 1);
  return count;
}

int Close(intptr_t hf) {
  if (hf == kCabinet || hf == kOutput) --gOpenHandles;
  return 0;
}

int32_t Seek(intptr_t hf, int32_t distance, int origin) {
  if (hf != kCabinet) return -1;
  int64_t base = origin == 0 ? 0 : origin == 1 ? gPosition : static_cast<int64_t>(gSize);
  const int64_t target = base + distance;
  if (target < 0 || target > INT32_MAX) return -1;
  gPosition = static_cast<uint32_t>(target);
  return static_cast<int32_t>(target);
}

intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  switch (type) {
    case fdintCOPY_FILE:
      ++gOpenHandles;
      return kOutput;
    case fdintCLOSE_FILE_INFO:
      Close(note->hf);
      return 1;
    case fdintCABINET_INFO:
      return 0;
    default:
      return 1;
  }
}

}  // namespace

PATCHER_FUZZ_TARGET(cab) {
  gData = data;
  gSize = size;
  gWritten = 0;
  ERF erf = {};
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  FUZZ_CHECK(hfdi != nullptr);
  if (!hfdi) return 0;
  FDICABINETINFO info;
  gPosition = 0;
  ++gOpenHandles;
  FDIIsCabinet(hfdi, kCabinet, &info);
  --gOpenHandles;
  const int ok = FDICopy(hfdi, "fuzz.cab", "dir/", 0, Notify, nullptr, nullptr);
  FUZZ_CHECK(ok || (erf.erfOper > 0 && erf.erfOper <= 11 && erf.fError == 1));
  FDIDestroy(hfdi);
  FUZZ_CHECK(gLiveBlocks == 0 && gOpenHandles == 0);
  gLiveBlocks = 0;
  gOpenHandles = 0;
  return 0;
}
