#include "streams/file_map_stream.h"

#include "platform/file_map.h"
#include "platform/file_system.h"

namespace vestrel {

TStream::~TStream() = default;

TCustomMemoryStream::~TCustomMemoryStream() = default;

TFileMapStream::TFileMapStream(const std::string& path, plat::MapAccess access) {
  m_hFile = plat::MapFileOpen(path, access);
  if (m_hFile == plat::kNoMapHandle) return;
  uint64_t size = 0;
  // Sizes are 32-bit here; mapping only the low part of a larger file would
  // patch the wrong bytes, and an empty file cannot be mapped at all.
  if (!plat::MapFileSize(m_hFile, &size) || size == 0 || size > 0xFFFFFFFFull) {
    Release();
    return;
  }
  m_FileSize = static_cast<uint32_t>(size);
  m_hMapping = plat::MapFileCreateMapping(m_hFile, m_FileSize, access);
  if (m_hMapping == plat::kNoMapHandle) {
    Release();
    return;
  }
  m_View = plat::MapFileView(m_hMapping, m_FileSize, access);
  if (m_View == nullptr) {
    Release();
    return;
  }
  m_Memory = static_cast<uint8_t*>(m_View);
  m_Size = m_FileSize;
  m_Position = 0;
}

TFileMapStream::~TFileMapStream() { Release(); }

bool TFileMapStream::IsOpen() const {
  return m_View != nullptr && m_hMapping != plat::kNoMapHandle && m_hFile != plat::kNoMapHandle;
}

void TFileMapStream::Release() {
  // A stream that failed to open releases what it had at once; the caller
  // may want the reason, so the error of the failing step survives.
  const uint32_t error = plat::LastError();
  plat::MapFileUnmap(m_View, m_FileSize);
  plat::MapFileClose(m_hMapping);
  plat::MapFileClose(m_hFile);
  m_View = nullptr;
  m_hMapping = plat::kNoMapHandle;
  m_hFile = plat::kNoMapHandle;
  m_FileSize = 0;
  m_Memory = nullptr;
  m_Size = 0;
  m_Position = 0;
  plat::SetLastError(error);
}

}  // namespace vestrel
