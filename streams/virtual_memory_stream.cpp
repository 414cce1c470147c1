#include "streams/virtual_memory_stream.h"

#include <cstdio>
#include <memory>

#include "engine/patch_log.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/virtual_memory.h"

namespace vestrel {

namespace {

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

CStream::~CStream() = default;

CCustomMemoryStream::~CCustomMemoryStream() = default;

CVirtualMemoryStream::~CVirtualMemoryStream() { Clear(); }

int CVirtualMemoryStream::SetSize(uint32_t n) {
  LogWrite(kLogTrace, "CVirtualMemoryStream :: SetSize(%u)", n);
  Clear();
  if (n == 0) return 1;
  void* block = plat::VirtualMemoryAlloc(n);
  if (block == nullptr) {
    m_Capacity = 0;
    m_Position = 0;
    throw CPB_ERROR_NOT_ENOUGH_MEMORY;
  }
  m_Memory = static_cast<uint8_t*>(block);
  m_Cursor = m_Memory;
  m_Capacity = n;
  m_Position = 0;
  return 1;
}

int CVirtualMemoryStream::SetBufferSize(uint32_t n) {
  SetSize(n);
  m_BufferSize = n;
  return 1;
}

int CVirtualMemoryStream::Clear() {
  if (m_Capacity != 0) plat::VirtualMemoryFree(m_Memory, m_Capacity);
  m_Memory = nullptr;
  m_Cursor = nullptr;
  m_Capacity = 0;
  m_Position = 0;
  return 1;
}

int CVirtualMemoryStream::LoadFromFile(const std::string& path) {
  m_DataSize = 0;
  // The C runtime opens a folder as a file on POSIX; Windows refuses it.
  if (plat::DirectoryExists(path)) throw CPB_ERROR_FILE_NOT_FOUND;
  UniqueFile file(fopen(plat::ToNativePath(path).c_str(), "rb"));
  if (!file) throw CPB_ERROR_FILE_NOT_FOUND;

  // A length the C runtime cannot report (beyond 2 GiB where long is 32
  // bits) or beyond 32 bits cannot be held in a block: the caller falls
  // back to decoding from the file, as for any allocation failure.
  if (fseek(file.get(), 0, SEEK_END) != 0) throw CPB_ERROR_NOT_ENOUGH_MEMORY;
  const long end = ftell(file.get());
  if (end < 0 || static_cast<unsigned long long>(end) > 0xFFFFFFFFull) throw CPB_ERROR_NOT_ENOUGH_MEMORY;
  if (fseek(file.get(), 0, SEEK_SET) != 0) throw CPB_ERROR_SHORT_READ;
  const uint32_t length = static_cast<uint32_t>(end);

  if (length > m_BufferSize) {
    SetSize(length);
  } else if (m_Capacity != m_BufferSize) {
    SetSize(m_BufferSize);
  }
  if (length > 0) {
    const size_t wanted = length < m_Capacity ? length : m_Capacity;
    if (fread(m_Memory, 1, wanted, file.get()) < length) throw CPB_ERROR_SHORT_READ;
  }
  m_DataSize = length;
  return 1;
}

}  // namespace vestrel
