// The C family of vestrel streams: memory blocks from the virtual-memory
// allocator that a patch task sizes once and then reuses for every file of
// a section.
//
// A block is (re)allocated only by SetSize: when a stream is given its
// buffer size, when a load needs more than the buffer size (the block grows
// to the file's length), and when the next load finds the block no longer
// at the buffer size (it shrinks back). Every other load reuses the block
// as it is.
//
// Failures are thrown as _CPB_ERROR values (cpb_error.h). Threads: a stream
// is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "streams/cpb_error.h"

namespace vestrel {

class CStream {
 public:
  CStream() = default;
  CStream(const CStream&) = delete;
  CStream& operator=(const CStream&) = delete;
  virtual ~CStream();
};

class CCustomMemoryStream : public CStream {
 public:
  ~CCustomMemoryStream() override;
};

class CVirtualMemoryStream : public CCustomMemoryStream {
 public:
  CVirtualMemoryStream() = default;
  ~CVirtualMemoryStream() override;

  // Logs the request ("CVirtualMemoryStream :: SetSize(%u)", level 64),
  // releases the current block and, for n > 0, allocates a new one of n
  // bytes. Throws CPB_ERROR_NOT_ENOUGH_MEMORY when that fails (the stream
  // is then without a block). Returns 1.
  int SetSize(uint32_t n);
  // SetSize(n), then n becomes the size that loads keep the block at.
  int SetBufferSize(uint32_t n);
  // Releases the block. Returns 1.
  int Clear();
  // Reads a whole file (engine path) into the block; see the file comment
  // for when the block is reallocated. Throws CPB_ERROR_FILE_NOT_FOUND when
  // the file cannot be opened (the block is kept), CPB_ERROR_NOT_ENOUGH_MEMORY
  // when the block cannot be had or the file is too large to hold, and
  // CPB_ERROR_SHORT_READ when fewer bytes arrive than the file holds. After
  // a throw the data size is 0. Returns 1.
  int LoadFromFile(const std::string& path);

  uint8_t* GetMemory() const { return m_Memory; }  // null when there is no block
  uint32_t GetCapacity() const { return m_Capacity; }
  uint32_t GetBufferSize() const { return m_BufferSize; }
  uint32_t GetDataSize() const { return m_DataSize; }  // valid bytes after a load
  uint32_t GetPosition() const { return m_Position; }

 protected:
  uint32_t m_Position = 0;      // 0 whenever the block is (re)allocated or released
  uint8_t* m_Cursor = nullptr;  // the block's start after allocation; write pointer of the file stream
  uint32_t m_Capacity = 0;      // bytes in the current block, 0 when none
  uint8_t* m_Memory = nullptr;  // the block, null when none
  uint32_t m_BufferSize = 0;    // the size a load keeps the block at
  uint32_t m_DataSize = 0;      // valid bytes after LoadFromFile
};

// The 32-bit product keeps the record as the Windows build lays it out:
// the table pointer, then six 32-bit fields.
static_assert(sizeof(void*) != 4 || sizeof(CVirtualMemoryStream) == 28,
              "CVirtualMemoryStream layout changed on the 32-bit build");

}  // namespace vestrel
