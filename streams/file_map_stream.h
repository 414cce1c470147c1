// The T family of vestrel streams: a file mapped into memory, read-write,
// so that a delta that only overwrites bytes can be applied to the file
// itself with no copy.
//
// TFileMapStream opens the file without sharing (see platform/file_map.h for
// what that means on POSIX). Failure is reported only through IsOpen; a
// stream that failed holds nothing. Changes made through GetMemory() reach
// the file; the view and both handles are released by the destructor.
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_map.h"

namespace vestrel {

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();
};

class TCustomMemoryStream : public TStream {
 public:
  ~TCustomMemoryStream() override;

  uint8_t* GetMemory() const { return m_Memory; }
  uint32_t GetSize() const { return m_Size; }
  uint32_t GetPosition() const { return m_Position; }

 protected:
  uint8_t* m_Memory = nullptr;  // start of the bytes, null when none
  uint32_t m_Size = 0;          // bytes at m_Memory
  uint32_t m_Position = 0;
};

class TFileMapStream : public TCustomMemoryStream {
 public:
  // Opens and maps the whole file (engine path). An empty file, a file of
  // 4 GiB or more, a missing, read-only or already opened file gives a
  // stream that is not open.
  // With MapAccess::kRead the file is shared with other readers, may be
  // read-only, and the memory must not be written.
  explicit TFileMapStream(const std::string& path, plat::MapAccess access = plat::MapAccess::kReadWrite);
  ~TFileMapStream() override;

  bool IsOpen() const;

 private:
  void Release();

  void* m_View = nullptr;     // the mapped view, null when none
  intptr_t m_hMapping = -1;   // mapping handle, -1 when none
  intptr_t m_hFile = -1;      // file handle, -1 when none
  uint32_t m_FileSize = 0;
};

// The 32-bit product's layouts: the table pointer, then 32-bit fields.
static_assert(sizeof(void*) != 4 || sizeof(TCustomMemoryStream) == 16,
              "TCustomMemoryStream layout changed on the 32-bit build");
static_assert(sizeof(void*) != 4 || sizeof(TFileMapStream) == 32,
              "TFileMapStream layout changed on the 32-bit build");

}  // namespace vestrel
