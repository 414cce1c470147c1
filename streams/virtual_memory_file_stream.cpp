#include "streams/virtual_memory_file_stream.h"

#include <cstring>

#include "platform/file_system.h"
#include "platform/path.h"

namespace vestrel {

CVirtualMemoryFileStream::~CVirtualMemoryFileStream() { Close(); }

void CVirtualMemoryFileStream::SetFileName(const std::string& path) {
  Close();
  m_FileName = path;
  m_Flushed = 0;
  // Bytes left behind by an output that failed half-way must not lead the
  // next file.
  m_Cursor = m_Memory;
  DropPieces();
}

void CVirtualMemoryFileStream::ClosePiece() {
  // With no piece yet, every byte of the block is still unrecorded.
  uint8_t* start = m_Pieces.empty() ? m_Memory : m_PieceStart;
  if (m_Cursor > start) m_Pieces.push_back({start, static_cast<size_t>(m_Cursor - start)});
  m_PieceStart = m_Cursor;
}

void CVirtualMemoryFileStream::DropPieces() {
  m_Pieces.clear();
  m_PieceStart = m_Memory;
  m_Referenced = 0;
}

int CVirtualMemoryFileStream::WriteReferenced(const void* data, uint32_t n) {
  if (n == 0) return 1;
  if (m_Memory == nullptr) return 0;
  // A system call takes at most this many pieces; more would only be split.
  constexpr size_t kMaxPieces = 1024;
  ClosePiece();
  m_Pieces.push_back({data, n});
  m_Referenced += n;
  return m_Pieces.size() + 1 >= kMaxPieces ? Flush() : 1;
}

int CVirtualMemoryFileStream::Write(const void* data, uint32_t n) {
  if (n == 0) return 1;
  if (m_Memory == nullptr) return 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (n <= m_Capacity - GetBuffered()) {
    memcpy(m_Cursor, bytes, n);
    m_Cursor += n;
    return 1;
  }
  uint32_t remaining = n;
  for (;;) {
    if (!Flush()) return 0;
    if (remaining == 0) return 1;
    const uint32_t piece = remaining < m_Capacity ? remaining : m_Capacity;
    memcpy(m_Cursor, bytes, piece);
    m_Cursor += piece;
    bytes += piece;
    remaining -= piece;
  }
}

int CVirtualMemoryFileStream::Put(const void* data, uint32_t n) {
  if (n == 0) return 1;
  if (m_Memory == nullptr) return 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (n > 0) {
    uint32_t room = m_Capacity - GetBuffered();
    if (room == 0) {
      if (!Flush()) return 0;
      room = m_Capacity;
    }
    const uint32_t piece = n < room ? n : room;
    memcpy(m_Cursor, bytes, piece);
    m_Cursor += piece;
    bytes += piece;
    n -= piece;
  }
  return 1;
}

int CVirtualMemoryFileStream::Flush() {
  if (!m_File) {
    FILE* file = fopen(plat::ToNativePath(m_FileName).c_str(), "wb");
    if (file == nullptr) return 0;
    // Writes arrive block-sized already; a second buffer in the C runtime
    // would only hold back bytes and hide a failed write until the close.
    setvbuf(file, nullptr, _IONBF, 0);
    m_File.reset(file);
  }
  const uint32_t buffered = GetBuffered();
  if (!m_Pieces.empty()) {
    ClosePiece();
    if (plat::FileFaultInjected(plat::FileFault::kWrite, m_FileName)) return 0;
    if (!plat::WriteGathered(m_File.get(), m_Pieces.data(), m_Pieces.size())) return 0;
    m_Flushed += buffered + m_Referenced;
    m_Cursor = m_Memory;
    DropPieces();
  } else if (buffered > 0) {
    if (plat::FileFaultInjected(plat::FileFault::kWrite, m_FileName)) return 0;
    if (fwrite(m_Memory, 1, buffered, m_File.get()) != buffered) return 0;
    m_Flushed += buffered;
    m_Cursor = m_Memory;
  }
  return 1;
}

int CVirtualMemoryFileStream::Close() {
  DropPieces();
  if (!m_File) return 1;
  return fclose(m_File.release()) == 0 ? 1 : 0;
}

}  // namespace vestrel
