#include "publish/cab_writer.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <memory>

#include "apply/cab/cab_format.h"
#include "platform/file_system.h"

namespace publish {

namespace {

constexpr uint16_t kTypeNone = 0;
constexpr uint16_t kTypeMszip = 1;
constexpr uint64_t kMaxFolderBytes = uint64_t{CabWriter::kMaxBlock} * CabWriter::kMaxBlocksPerFolder;
// Room for a deflate stream of one block that did not shrink, with the
// two signature bytes in front; far below what a reader accepts.
constexpr uint32_t kMszipOutCapacity = CabWriter::kMaxBlock + 1024;

void PutU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

// Where the cabinet's bytes go: appended in order, with the header and the
// folder table written again once their values are known.
class CabWriter::Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Append(const void* data, size_t size) = 0;
  virtual bool Overwrite(uint64_t offset, const void* data, size_t size) = 0;
  uint64_t Position() const { return position_; }

 protected:
  uint64_t position_ = 0;
};

namespace {

class MemorySink : public CabWriter::Sink {
 public:
  explicit MemorySink(std::vector<uint8_t>& out) : out_(out) {}
  bool Append(const void* data, size_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + size);
    position_ += size;
    return true;
  }
  bool Overwrite(uint64_t offset, const void* data, size_t size) override {
    memcpy(out_.data() + offset, data, size);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

class FileSink : public CabWriter::Sink {
 public:
  explicit FileSink(plat::File& file) : file_(file) {}
  bool Append(const void* data, size_t size) override {
    uint32_t done = 0;
    if (!file_.Write(data, static_cast<uint32_t>(size), &done) || done != size) return false;
    position_ += size;
    return true;
  }
  bool Overwrite(uint64_t offset, const void* data, size_t size) override {
    uint32_t done = 0;
    return file_.Seek(static_cast<int64_t>(offset), 0) && file_.Write(data, static_cast<uint32_t>(size), &done) &&
           done == size && file_.Seek(0, 2);
  }

 private:
  plat::File& file_;
};

// Cuts one folder's data into blocks and writes each, compressed or not,
// with its header and checksum.
class BlockWriter {
 public:
  BlockWriter(CabWriter::Sink& sink, CabCompression compression, int level,
              const std::function<void(uint64_t)>& progress)
      : sink_(sink), compression_(compression), progress_(progress) {
    if (compression_ == CabCompression::kMszip) {
      stream_ = std::make_unique<z_stream>();
      memset(stream_.get(), 0, sizeof(z_stream));
      // Raw deflate (no zlib header), the full 32 KiB window MSZIP assumes.
      ready_ = deflateInit2(stream_.get(), level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
      out_.resize(kMszipOutCapacity);
    }
  }
  ~BlockWriter() {
    if (stream_ && ready_) deflateEnd(stream_.get());
  }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  bool Ready() const { return compression_ == CabCompression::kNone || ready_; }
  uint32_t Blocks() const { return blocks_; }
  const std::string& Error() const { return error_; }

  bool Feed(const uint8_t* data, size_t size) {
    while (size > 0) {
      const size_t take = std::min<size_t>(size, CabWriter::kMaxBlock - fill_);
      memcpy(block_ + fill_, data, take);
      fill_ += static_cast<uint32_t>(take);
      data += take;
      size -= take;
      if (fill_ == CabWriter::kMaxBlock && !Emit()) return false;
    }
    return true;
  }

  // Writes the last, partial block of the folder.
  bool Finish() { return fill_ == 0 || Emit(); }

 private:
  bool Emit() {
    const uint8_t* payload = block_;
    uint32_t payloadSize = fill_;
    if (compression_ == CabCompression::kMszip) {
      z_stream& z = *stream_;
      if (deflateReset(&z) != Z_OK) return SetError("deflate reset failed");
      // Every block but a folder's first continues the history of the
      // block before it, which is always a full 32 KiB.
      if (blocks_ > 0 && deflateSetDictionary(&z, history_, CabWriter::kMaxBlock) != Z_OK) {
        return SetError("deflate dictionary failed");
      }
      out_[0] = 'C';
      out_[1] = 'K';
      z.next_in = block_;
      z.avail_in = fill_;
      z.next_out = out_.data() + 2;
      z.avail_out = static_cast<uInt>(out_.size() - 2);
      if (deflate(&z, Z_FINISH) != Z_STREAM_END) return SetError("deflate did not finish a block");
      payload = out_.data();
      payloadSize = static_cast<uint32_t>(2 + z.total_out);
      memcpy(history_, block_, fill_);
    }
    uint8_t header[cab::kDataHeaderSize];
    PutU16(header + 4, static_cast<uint16_t>(payloadSize));
    PutU16(header + 6, static_cast<uint16_t>(fill_));
    PutU32(header, cab::CabChecksum(header + 4, 4, cab::CabChecksum(payload, payloadSize, 0)));
    if (!sink_.Append(header, sizeof header) || !sink_.Append(payload, payloadSize)) {
      return SetError("cannot write a data block");
    }
    ++blocks_;
    if (progress_) progress_(fill_);
    fill_ = 0;
    return true;
  }

  bool SetError(const char* text) {
    error_ = text;
    return false;
  }

  CabWriter::Sink& sink_;
  CabCompression compression_;
  const std::function<void(uint64_t)>& progress_;
  std::unique_ptr<z_stream> stream_;
  bool ready_ = false;
  std::vector<uint8_t> out_;
  uint8_t block_[CabWriter::kMaxBlock];
  uint8_t history_[CabWriter::kMaxBlock];
  uint32_t fill_ = 0;
  uint32_t blocks_ = 0;
  std::string error_;
};

}  // namespace

void CabWriter::Add(const std::string& name, std::vector<uint8_t> data) {
  files_.push_back(Entry{name, std::string(), std::move(data)});
}

void CabWriter::AddFile(const std::string& name, const std::string& sourcePath) {
  files_.push_back(Entry{name, sourcePath, {}});
}

bool CabWriter::Write(Sink& sink, std::string* error) const {
  if (files_.size() > 0xFFFF) return Fail(error, "a cabinet holds at most 65535 files");

  // Sizes first: the file table comes before the data.
  std::vector<uint64_t> sizes;
  std::vector<uint16_t> folderOf;
  std::vector<uint32_t> offsetInFolder;
  uint64_t folderBytes = 0;
  uint16_t folder = 0;
  size_t fileTableSize = 0;
  for (const Entry& file : files_) {
    if (file.name.empty() || file.name.find('\0') != std::string::npos || file.name.size() > cab::kMaxNameLength) {
      return Fail(error, "a stored name must be 1 to 256 bytes without zero bytes: \"" + file.name + "\"");
    }
    uint64_t size = file.data.size();
    if (!file.sourcePath.empty() && !plat::FileSize(file.sourcePath, &size)) {
      return Fail(error, "cannot read " + file.sourcePath);
    }
    if (size > kMaxFolderBytes) return Fail(error, "too large for a cabinet: " + file.name);
    if (folderBytes + size > kMaxFolderBytes) {
      ++folder;
      folderBytes = 0;
    }
    sizes.push_back(size);
    folderOf.push_back(folder);
    offsetInFolder.push_back(static_cast<uint32_t>(folderBytes));
    folderBytes += size;
    fileTableSize += cab::kFileEntrySize + file.name.size() + 1;
  }
  const uint16_t folderCount = static_cast<uint16_t>(folder + 1);
  const uint16_t type = compression_ == CabCompression::kMszip ? kTypeMszip : kTypeNone;

  // Header and folder table, rewritten at the end with the real values.
  std::vector<uint8_t> head(cab::kHeaderSize + size_t{folderCount} * cab::kFolderEntrySize, 0);
  memcpy(head.data(), "MSCF", 4);
  PutU32(head.data() + cab::kHeaderOffsetFilesOffset, static_cast<uint32_t>(head.size()));
  head[cab::kHeaderOffsetVersion] = 3;
  head[cab::kHeaderOffsetVersion + 1] = 1;
  PutU16(head.data() + cab::kHeaderOffsetFolders, folderCount);
  PutU16(head.data() + cab::kHeaderOffsetFiles, static_cast<uint16_t>(files_.size()));
  if (!sink.Append(head.data(), head.size())) return Fail(error, "cannot write the cabinet header");

  std::vector<uint8_t> table;
  table.reserve(fileTableSize);
  for (size_t i = 0; i < files_.size(); ++i) {
    uint8_t entry[cab::kFileEntrySize];
    PutU32(entry, static_cast<uint32_t>(sizes[i]));
    PutU32(entry + 4, offsetInFolder[i]);
    PutU16(entry + 8, folderOf[i]);
    PutU16(entry + 10, kDate);
    PutU16(entry + 12, kTime);
    PutU16(entry + 14, kAttributes);
    table.insert(table.end(), entry, entry + sizeof entry);
    table.insert(table.end(), files_[i].name.begin(), files_[i].name.end());
    table.push_back(0);
  }
  if (!sink.Append(table.data(), table.size())) return Fail(error, "cannot write the file table");

  std::vector<uint8_t> chunk(1 << 20);
  size_t next = 0;
  for (uint16_t f = 0; f < folderCount; ++f) {
    const uint64_t dataStart = sink.Position();
    if (dataStart > std::numeric_limits<uint32_t>::max()) return Fail(error, "the cabinet would exceed 4 GiB");
    BlockWriter blocks(sink, compression_, level_, progress_);
    if (!blocks.Ready()) return Fail(error, "cannot set up deflate");
    for (; next < files_.size() && folderOf[next] == f; ++next) {
      const Entry& file = files_[next];
      if (file.sourcePath.empty()) {
        if (!blocks.Feed(file.data.data(), file.data.size())) return Fail(error, blocks.Error());
        continue;
      }
      plat::File in;
      if (!in.Open(file.sourcePath, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
        return Fail(error, "cannot open " + file.sourcePath);
      }
      uint64_t read = 0;
      for (;;) {
        uint32_t got = 0;
        if (!in.Read(chunk.data(), static_cast<uint32_t>(chunk.size()), &got)) {
          return Fail(error, "cannot read " + file.sourcePath);
        }
        if (got == 0) break;
        read += got;
        if (read > sizes[next]) break;
        if (!blocks.Feed(chunk.data(), got)) return Fail(error, blocks.Error());
      }
      if (read != sizes[next]) return Fail(error, file.sourcePath + " changed while it was being written");
    }
    if (!blocks.Finish()) return Fail(error, blocks.Error());
    uint8_t* entry = head.data() + cab::kHeaderSize + size_t{f} * cab::kFolderEntrySize;
    PutU32(entry, static_cast<uint32_t>(dataStart));
    PutU16(entry + 4, static_cast<uint16_t>(blocks.Blocks()));
    PutU16(entry + 6, type);
  }
  if (sink.Position() > std::numeric_limits<uint32_t>::max()) return Fail(error, "the cabinet would exceed 4 GiB");
  PutU32(head.data() + cab::kHeaderOffsetCabinetSize, static_cast<uint32_t>(sink.Position()));
  if (!sink.Overwrite(0, head.data(), head.size())) return Fail(error, "cannot write the cabinet header");
  return true;
}

std::vector<uint8_t> CabWriter::Build(std::string* error) const {
  std::vector<uint8_t> out;
  MemorySink sink(out);
  if (!Write(sink, error)) return {};
  return out;
}

bool CabWriter::WriteTo(const std::string& path, std::string* error) const {
  plat::File file;
  if (!file.Open(path, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways)) {
    return Fail(error, "cannot create " + path);
  }
  FileSink sink(file);
  std::string why;
  const bool ok = Write(sink, &why) && file.Flush();
  file.Close();
  if (!ok) {
    plat::RemoveFile(path);
    return Fail(error, why.empty() ? "cannot write " + path : why);
  }
  return true;
}

}  // namespace publish
