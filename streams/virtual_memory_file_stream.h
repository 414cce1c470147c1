// CVirtualMemoryFileStream: a memory stream used as a write buffer in
// front of one output file. Bytes collect in the block and go to the file
// in block-sized writes; the file is created (or truncated) by the first
// flush, not by SetFileName, so an output that never needs writing is
// never touched.
//
// Failure contract: a flush that cannot open the output or cannot write all
// of the buffered bytes returns 0 and leaves the cursor where it was; the
// writes return 0 at once in that case and never store past the end of the
// block. After such a failure the output file's contents are undefined and
// the caller must stop. Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/crt_io.h"
#include "streams/virtual_memory_stream.h"

namespace vestrel {

class CVirtualMemoryFileStream : public CVirtualMemoryStream {
 public:
  CVirtualMemoryFileStream() = default;
  ~CVirtualMemoryFileStream() override;

  // Starts a new output: closes a file still open from an earlier output,
  // remembers the path (engine path), and empties the buffer and the count
  // of bytes written. The block must already be allocated.
  void SetFileName(const std::string& path);
  // Appends n bytes. When they do not fit behind the buffered ones, the
  // buffer is flushed and the bytes follow in block-sized pieces, each
  // flushed, so the cursor ends at the block's start. Returns 1, or 0 when
  // a flush failed or there is no block.
  int Write(const void* data, uint32_t n);
  // Appends n bytes, filling the block and flushing it whenever it is full;
  // the way the decoder emits data bytes. Returns 1, or 0 as Write.
  int Put(const void* data, uint32_t n);
  // Appends n bytes without copying them: the file receives them straight
  // from `data` at the next flush, so they must stay as they are until
  // then (the decoder's EQL runs, from the original). Returns 1, or 0 as
  // Write.
  int WriteReferenced(const void* data, uint32_t n);
  // Writes the buffered and referenced bytes to the output file in order,
  // opening it ("wb") first if it is not open. Returns 1, or 0 when it
  // cannot be opened or written.
  int Flush();
  // Closes the output file if open; referenced bytes not yet flushed are
  // dropped. Returns 1, or 0 when the close reported a failure (bytes still
  // held by the C runtime were lost).
  int Close();

  bool IsFileOpen() const { return m_File != nullptr; }
  const std::string& GetFileName() const { return m_FileName; }
  uint32_t GetBuffered() const { return static_cast<uint32_t>(m_Cursor - m_Memory); }
  // Bytes written so far: flushed, buffered and referenced.
  uint64_t GetTotalWritten() const { return m_Flushed + GetBuffered() + m_Referenced; }

 private:
  struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
  };

  // Ends the piece of the block that began at m_PieceStart, so that what
  // follows comes after it in the file.
  void ClosePiece();
  void DropPieces();

  std::string m_FileName;                     // the output's engine path
  std::unique_ptr<FILE, FileCloser> m_File;   // null while not open
  uint64_t m_Flushed = 0;                     // bytes already written to the file
  // What the next flush writes, in order, when bytes were referenced:
  // pieces of the block and referenced runs. Empty while only the block
  // holds bytes, which then go in one write from its start.
  std::vector<plat::WritePiece> m_Pieces;
  uint8_t* m_PieceStart = nullptr;  // with pieces: block bytes from here on are in none yet
  uint64_t m_Referenced = 0;        // referenced bytes not yet flushed
};

}  // namespace vestrel
