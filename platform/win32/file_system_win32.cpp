#include <windows.h>

#include "platform/file_system.h"

namespace plat {

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

uint32_t GetAttributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

bool SetAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool FileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool RemoveFolder(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != FALSE; }

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool MoveReplace(const std::string& from, const std::string& to) {
  if (FileFaultInjected(FileFault::kMove, from)) return false;
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

bool MoveReplaceDurably(const std::string& from, const std::string& to) {
  if (FileFaultInjected(FileFault::kMove, from)) return false;
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool SyncFolder(const std::string& /*folder*/) { return true; }

bool MoveNoReplace(const std::string& from, const std::string& to) {
  if (FileFaultInjected(FileFault::kMove, from)) return false;
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool CopyOneFile(const std::string& from, const std::string& to, bool failIfExists) {
  return ::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool FileSize(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

namespace {

// FILETIME (100 ns since 1601) in nanoseconds since 1970.
int64_t UnixNs(LARGE_INTEGER time) { return (time.QuadPart - 116444736000000000LL) * 100; }

int64_t UnixNs(FILETIME time) {
  LARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = static_cast<LONG>(time.dwHighDateTime);
  return UnixNs(value);
}

}  // namespace

bool GetFileStamp(const std::string& path, FileStamp* stamp) {
  // Asking for no access reads the attributes of a file that others hold
  // open for writing, without a sharing violation.
  HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  const bool known = ::GetFileInformationByHandle(file, &info) != 0;
  const bool changeKnown = known && ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) != 0;
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (!known) {
    ::SetLastError(error);
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  stamp->volume = info.dwVolumeSerialNumber;
  stamp->id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modifiedNs = UnixNs(info.ftLastWriteTime);
  stamp->changedNs = changeKnown && basic.ChangeTime.QuadPart != 0 ? UnixNs(basic.ChangeTime) : stamp->modifiedNs;
  return true;
}

int64_t FileClockNowNs() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return UnixNs(now);
}

bool FindEntries(const std::string& pattern, std::vector<FindEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    FindEntry entry;
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
    entry.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     ? 0
                     : ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    entries->push_back(std::move(entry));
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return true;
}

bool DiskFreeBytes(const std::string& folder, uint64_t* freeBytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

// ---- File ----

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
constexpr intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE
}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = kNoHandle;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = kNoHandle;
  }
  return *this;
}

bool File::Open(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition) {
  Close();
  DWORD desired = 0;
  if (access & kRead) desired |= GENERIC_READ;
  if (access & kWrite) desired |= GENERIC_WRITE;
  DWORD shareMode = 0;
  if (share & kShareRead) shareMode |= FILE_SHARE_READ;
  if (share & kShareWrite) shareMode |= FILE_SHARE_WRITE;
  if (share & kShareDelete) shareMode |= FILE_SHARE_DELETE;
  HANDLE h = ::CreateFileA(path.c_str(), desired, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  if (FileFaultHookInstalled()) path_ = path;
  return true;
}

bool File::IsOpen() const { return handle_ != kNoHandle; }

bool File::Close() {
  bool closed = true;
  if (handle_ != kNoHandle) {
    const bool injected = !path_.empty() && FileFaultInjected(FileFault::kClose, path_);
    closed = ::CloseHandle(AsHandle(handle_)) != FALSE && !injected;
    if (injected) SetLastError(kErrorDiskFull);
    handle_ = kNoHandle;
  }
  path_.clear();
  return closed;
}

bool File::Read(void* buffer, uint32_t size, uint32_t* done) {
  DWORD got = 0;
  BOOL ok = ::ReadFile(AsHandle(handle_), buffer, size, &got, nullptr);
  *done = got;
  return ok != FALSE;
}

bool File::Write(const void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  if (!path_.empty() && FileFaultInjected(FileFault::kWrite, path_)) return false;
  DWORD put = 0;
  BOOL ok = ::WriteFile(AsHandle(handle_), buffer, size, &put, nullptr);
  *done = put;
  return ok != FALSE;
}

bool File::Seek(int64_t offset, int whence, uint64_t* newPosition) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  DWORD method = whence == 0 ? FILE_BEGIN : whence == 1 ? FILE_CURRENT : FILE_END;
  if (!::SetFilePointerEx(AsHandle(handle_), distance, &position, method)) return false;
  if (newPosition) *newPosition = static_cast<uint64_t>(position.QuadPart);
  return true;
}

bool File::Size(uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(AsHandle(handle_), &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool File::Flush() { return ::FlushFileBuffers(AsHandle(handle_)) != FALSE; }

bool File::Truncate() { return ::SetEndOfFile(AsHandle(handle_)) != FALSE; }

}  // namespace plat
