#include <windows.h>

#include "platform/file_map.h"

namespace plat {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

intptr_t MapFileOpen(const std::string& path, MapAccess access) {
  const bool readOnly = access == MapAccess::kRead;
  HANDLE file = ::CreateFileA(path.c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              readOnly ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoMapHandle;
  return reinterpret_cast<intptr_t>(file);
}

bool MapFileSize(intptr_t file, uint64_t* size) {
  if (file == kNoMapHandle) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD high = 0;
  const DWORD low = ::GetFileSize(AsHandle(file), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

intptr_t MapFileCreateMapping(intptr_t file, uint32_t size, MapAccess access) {
  if (file == kNoMapHandle || size == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kNoMapHandle;
  }
  HANDLE mapping = ::CreateFileMappingA(AsHandle(file), nullptr, access == MapAccess::kRead ? PAGE_READONLY : PAGE_READWRITE,
                                        0, size, nullptr);
  // This call reports failure with null, not INVALID_HANDLE_VALUE.
  if (mapping == nullptr) return kNoMapHandle;
  return reinterpret_cast<intptr_t>(mapping);
}

void* MapFileView(intptr_t mapping, uint32_t size, MapAccess access) {
  if (mapping == kNoMapHandle || size == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ::MapViewOfFile(AsHandle(mapping), access == MapAccess::kRead ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS, 0, 0,
                         size);
}

void MapFileUnmap(void* view, uint32_t /*size*/) {
  if (view != nullptr) ::UnmapViewOfFile(view);
}

void MapFileClose(intptr_t handle) {
  if (handle != kNoMapHandle) ::CloseHandle(AsHandle(handle));
}

}  // namespace plat
