// The FDI context and FDICopy: cabinet headers, the file list with its
// notifications, the folder cursor that feeds data blocks to the folder's
// decompressor, and spanned folders that continue in the next cabinet.
//
// Reading a folder is one forward pass: the cursor keeps the current data
// block decoded, so files taken in cabinet order decode every block once;
// a file earlier in its folder than the cursor restarts the folder.
#include "apply/cab/fdi.h"

#include <cstring>

#include "apply/cab/bit_reader.h"
#include "apply/cab/cab_format.h"
#include "apply/cab/codec.h"

namespace {

using cab::GetLe16;
using cab::GetLe32;

constexpr uint32_t kContextTag = 0x43494446;  // "FDIC"
constexpr int kSeekSet = 0;
constexpr uint32_t kCallbackFailed = 0xFFFFFFFFu;
constexpr intptr_t kNoHandle = -1;
// How often the next-cabinet notification is repeated after a failed open
// before the copy gives up (the published interface asks again and again;
// a caller that answers the same way every time would never end).
constexpr int kNextCabinetTries = 3;
constexpr uint32_t kInputBytes = cab::kMaxCompressedBlockSize + cab::kBitReaderPadding;

struct FolderEntry {
  uint32_t dataOffset;   // file offset of the first data block
  uint16_t dataBlocks;   // data blocks in this cabinet
  uint16_t typeCompress;
};

// What FDICopy keeps of one opened cabinet.
struct CabinetHeader {
  uint32_t cabinetSize;
  uint32_t filesOffset;
  uint16_t folderCount;
  uint16_t fileCount;
  uint16_t flags;
  uint16_t setId;
  uint16_t number;
  uint16_t headerReserve;
  uint8_t folderReserve;
  uint8_t dataReserve;
  uint32_t foldersOffset;       // file offset of the first folder entry
  bool firstFolderContinued;    // folder 0 began in the previous cabinet
  FolderEntry* folders;         // folderCount entries, from the alloc callback
  char prevName[cab::kMaxNameLength + 1];
  char prevDisk[cab::kMaxNameLength + 1];
  char nextName[cab::kMaxNameLength + 1];
  char nextDisk[cab::kMaxNameLength + 1];

  bool HasNext() const { return (flags & cab::kFlagNextCabinet) != 0; }
  bool HasPrev() const { return (flags & cab::kFlagPrevCabinet) != 0; }
};

// An open cabinet file and where its read position is, to skip needless seeks.
struct CabinetFile {
  intptr_t handle = kNoHandle;
  uint32_t position = 0;
  bool positionKnown = false;
};

// The folder whose data blocks are being decoded.
struct FolderCursor {
  bool valid = false;
  bool spanned = false;          // moved into a later cabinet of the set
  uint16_t setId = 0;            // cabinet that holds the blocks...
  uint16_t cabinetNumber = 0;
  uint16_t folderIndex = 0;      // ...and the folder's index there
  uint16_t startNumber = 0;      // cabinet where the folder began...
  uint16_t startFolder = 0;      // ...and its index there
  uint32_t nextBlockOffset = 0;  // file offset of the next data block
  uint32_t blocksLeft = 0;       // data blocks left in that cabinet
  bool continues = false;        // the folder goes on in the next cabinet
  uint8_t dataReserve = 0;
  uint64_t blockStart = 0;       // folder offset of the decoded block
  const uint8_t* block = nullptr;
  uint32_t blockSize = 0;
  uint32_t blockUsed = 0;

  uint64_t Position() const { return blockStart + blockUsed; }
};

struct FileEntry {
  uint32_t size;
  uint32_t offset;
  uint16_t folder;
  uint16_t date;
  uint16_t time;
  uint16_t attribs;
};

class FdiContext {
 public:
  FdiContext(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write, PFNCLOSE close,
             PFNSEEK seek, ERF* erf)
      : allocator_{alloc, free}, open_(open), read_(read), write_(write), close_(close), seek_(seek), erf_(erf) {}

  bool Init() {
    input_ = static_cast<uint8_t*>(allocator_.Allocate(kInputBytes));
    if (!input_) return false;
    tag_ = kContextTag;
    return true;
  }

  ~FdiContext() {
    tag_ = 0;
    CloseHandles();
    FreeFolders(list_);
    FreeFolders(data_);
    cab::DestroyDecompressor(allocator_, codec_);
    if (input_) allocator_.free(input_);
  }

  bool Live() const { return tag_ == kContextTag; }
  bool Busy() const { return inCopy_; }
  const cab::Allocator& Allocator() const { return allocator_; }

  int IsCabinet(intptr_t hf, FDICABINETINFO* info);
  int Copy(const char* name, const char* directory, PFNFDINOTIFY notify, PFNFDIDECRYPT decrypt, void* user);

 private:
  // --- errors
  FDIERROR Fail(FDIERROR code, int32_t type = 0) {
    if (erf_) {
      erf_->erfOper = code;
      erf_->erfType = type;
      erf_->fError = 1;
    }
    return code;
  }

  // --- file access through the callbacks
  uint32_t ReadFully(intptr_t handle, void* buffer, uint32_t size);
  uint32_t ReadAt(CabinetFile& file, uint32_t offset, void* buffer, uint32_t size);
  bool Seek(CabinetFile& file, uint32_t offset);
  void CloseFile(CabinetFile& file);
  void CloseHandles();

  // --- cabinets
  FDIERROR ReadHeader(CabinetFile& file, CabinetHeader& header, int32_t* version);
  FDIERROR ReadName(CabinetFile& file, uint32_t* offset, char* out);
  FDIERROR SendNewCabinet(CabinetFile& file, const CabinetHeader& header);
  void FreeFolders(CabinetHeader& header);
  const CabinetHeader& DataHeader() const { return dataIsList_ ? list_ : data_; }

  // --- files and folders
  FDIERROR ReadFileEntry(uint32_t* offset, FileEntry* entry);
  FDIERROR ProcessFile(const FileEntry& entry);
  FDIERROR Extract(uint16_t folderIndex, uint32_t offset, uint32_t size);
  FDIERROR StartFolder(uint16_t folderIndex);
  FDIERROR NextBlock();
  FDIERROR OpenNextCabinet();

  // --- notifications
  intptr_t Notify(FDINOTIFICATIONTYPE type) { return notify_(type, &note_); }
  void ClearNote() {
    memset(&note_, 0, sizeof(note_));
    note_.pv = user_;
  }

  uint32_t tag_ = 0;
  cab::Allocator allocator_;
  PFNOPEN open_;
  PFNREAD read_;
  PFNWRITE write_;
  PFNCLOSE close_;
  PFNSEEK seek_;
  ERF* erf_;

  // The running copy.
  bool inCopy_ = false;
  PFNFDINOTIFY notify_ = nullptr;
  PFNFDIDECRYPT decrypt_ = nullptr;
  void* user_ = nullptr;
  char directory_[cab::kMaxDirectoryLength + 1] = {};  // the caller may rewrite it on next-cabinet
  char listPath_[cab::kMaxDirectoryLength + cab::kMaxNameLength + 1] = {};
  CabinetHeader list_ = {};     // the cabinet named to FDICopy
  CabinetHeader data_ = {};     // a later cabinet holding the current folder's blocks
  bool dataIsList_ = true;
  CabinetFile listFile_;        // header and file list
  CabinetFile dataFile_;        // data blocks
  intptr_t output_ = kNoHandle; // between copy-file and close-file notifications

  FolderCursor cursor_;
  cab::Decompressor* codec_ = nullptr;
  uint8_t* input_ = nullptr;    // one compressed block (both parts of a split one) and padding
  uint8_t dataReserve_[256] = {};
  char fileName_[cab::kMaxNameLength + 1] = {};
  char nameCopy_[cab::kMaxNameLength + 1] = {};
  char diskCopy_[cab::kMaxNameLength + 1] = {};
  FDINOTIFICATION note_ = {};
};

// ---------------------------------------------------------------- file access

uint32_t FdiContext::ReadFully(intptr_t handle, void* buffer, uint32_t size) {
  uint8_t* at = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < size) {
    const uint32_t got = read_(handle, at + done, size - done);
    if (got == 0 || got == kCallbackFailed || got > size - done) break;
    done += got;
  }
  return done;
}

bool FdiContext::Seek(CabinetFile& file, uint32_t offset) {
  if (file.positionKnown && file.position == offset) return true;
  file.positionKnown = false;
  if (offset > 0x7FFFFFFFu) return false;
  if (seek_(file.handle, static_cast<int32_t>(offset), kSeekSet) != static_cast<int32_t>(offset)) return false;
  file.position = offset;
  file.positionKnown = true;
  return true;
}

uint32_t FdiContext::ReadAt(CabinetFile& file, uint32_t offset, void* buffer, uint32_t size) {
  if (!Seek(file, offset)) return 0;
  const uint32_t got = ReadFully(file.handle, buffer, size);
  if (got == size) {
    file.position = offset + got;
  } else {
    file.positionKnown = false;
  }
  return got;
}

void FdiContext::CloseFile(CabinetFile& file) {
  if (file.handle != kNoHandle) close_(file.handle);
  file = CabinetFile();
}

void FdiContext::CloseHandles() {
  if (output_ != kNoHandle) {
    close_(output_);
    output_ = kNoHandle;
  }
  CloseFile(listFile_);
  CloseFile(dataFile_);
}

// ---------------------------------------------------------------- cabinets

void FdiContext::FreeFolders(CabinetHeader& header) {
  if (header.folders) allocator_.free(header.folders);
  header.folders = nullptr;
}

FDIERROR FdiContext::ReadName(CabinetFile& file, uint32_t* offset, char* out) {
  uint8_t buffer[cab::kMaxNameLength + 1];
  const uint32_t got = ReadAt(file, *offset, buffer, sizeof(buffer));
  const void* end = memchr(buffer, 0, got);
  if (!end) return FDIERROR_CORRUPT_CABINET;
  const uint32_t length = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - buffer);
  memcpy(out, buffer, length + 1);
  *offset += length + 1;
  return FDIERROR_NONE;
}

FDIERROR FdiContext::ReadHeader(CabinetFile& file, CabinetHeader& header, int32_t* version) {
  FreeFolders(header);
  memset(&header, 0, sizeof(header));
  uint8_t fixed[cab::kHeaderSize];
  if (ReadAt(file, 0, fixed, sizeof(fixed)) != sizeof(fixed)) return FDIERROR_NOT_A_CABINET;
  if (GetLe32(fixed + cab::kHeaderOffsetSignature) != cab::kHeaderSignature) return FDIERROR_NOT_A_CABINET;
  const uint16_t headerVersion = GetLe16(fixed + cab::kHeaderOffsetVersion);
  if (headerVersion != cab::kSupportedVersion) {
    *version = headerVersion;
    return FDIERROR_UNKNOWN_CABINET_VERSION;
  }
  header.cabinetSize = GetLe32(fixed + cab::kHeaderOffsetCabinetSize);
  header.filesOffset = GetLe32(fixed + cab::kHeaderOffsetFilesOffset);
  header.folderCount = GetLe16(fixed + cab::kHeaderOffsetFolders);
  header.fileCount = GetLe16(fixed + cab::kHeaderOffsetFiles);
  header.flags = GetLe16(fixed + cab::kHeaderOffsetFlags);
  header.setId = GetLe16(fixed + cab::kHeaderOffsetSetId);
  header.number = GetLe16(fixed + cab::kHeaderOffsetCabinetNumber);

  uint32_t offset = cab::kHeaderSize;
  if (header.flags & cab::kFlagReservePresent) {
    uint8_t sizes[cab::kReserveFieldsSize];
    if (ReadAt(file, offset, sizes, sizeof(sizes)) != sizeof(sizes)) return FDIERROR_CORRUPT_CABINET;
    header.headerReserve = GetLe16(sizes);
    header.folderReserve = sizes[2];
    header.dataReserve = sizes[3];
    offset += cab::kReserveFieldsSize + header.headerReserve;
  }
  if (header.HasPrev()) {
    if (FDIERROR e = ReadName(file, &offset, header.prevName)) return e;
    if (FDIERROR e = ReadName(file, &offset, header.prevDisk)) return e;
  }
  if (header.HasNext()) {
    if (FDIERROR e = ReadName(file, &offset, header.nextName)) return e;
    if (FDIERROR e = ReadName(file, &offset, header.nextDisk)) return e;
  }

  header.foldersOffset = offset;
  if (header.folderCount) {
    header.folders =
        static_cast<FolderEntry*>(allocator_.Allocate(sizeof(FolderEntry) * size_t{header.folderCount}));
    if (!header.folders) return FDIERROR_ALLOC_FAIL;
    const uint32_t entrySize = cab::kFolderEntrySize + header.folderReserve;
    uint8_t entry[cab::kFolderEntrySize + 255];
    for (uint32_t i = 0; i < header.folderCount; ++i) {
      if (ReadAt(file, offset, entry, entrySize) != entrySize) return FDIERROR_CORRUPT_CABINET;
      header.folders[i].dataOffset = GetLe32(entry);
      header.folders[i].dataBlocks = GetLe16(entry + 4);
      header.folders[i].typeCompress = GetLe16(entry + 6);
      offset += entrySize;
    }
  }

  // A cabinet whose first file continues from the previous one starts with
  // the tail of that file's folder.
  if (header.HasPrev() && header.folderCount) {
    uint8_t first[cab::kFileEntrySize];
    if (ReadAt(file, header.filesOffset, first, sizeof(first)) == sizeof(first)) {
      const uint16_t folder = GetLe16(first + 8);
      header.firstFolderContinued =
          folder == cab::kFolderContinuedFromPrev || folder == cab::kFolderContinuedPrevAndNext;
    }
  }
  return FDIERROR_NONE;
}

FDIERROR FdiContext::SendNewCabinet(CabinetFile& file, const CabinetHeader& header) {
  if (!decrypt_) return FDIERROR_NONE;
  void* reserve = nullptr;
  if (header.headerReserve) {
    reserve = allocator_.Allocate(header.headerReserve);
    if (!reserve) return FDIERROR_ALLOC_FAIL;
    const uint32_t at = cab::kHeaderSize + cab::kReserveFieldsSize;
    if (ReadAt(file, at, reserve, header.headerReserve) != header.headerReserve) {
      allocator_.free(reserve);
      return FDIERROR_CORRUPT_CABINET;
    }
  }
  FDIDECRYPT d;
  memset(&d, 0, sizeof(d));
  d.fdidt = fdidtNEW_CABINET;
  d.pvUser = user_;
  d.cabinet.pHeaderReserve = reserve;
  d.cabinet.cbHeaderReserve = header.headerReserve;
  d.cabinet.setID = header.setId;
  d.cabinet.iCabinet = header.number;
  const int result = decrypt_(&d);
  if (reserve) allocator_.free(reserve);
  return result == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
}

int FdiContext::IsCabinet(intptr_t hf, FDICABINETINFO* info) {
  uint8_t fixed[cab::kHeaderSize];
  if (ReadFully(hf, fixed, sizeof(fixed)) != sizeof(fixed)) return 0;
  if (GetLe32(fixed + cab::kHeaderOffsetSignature) != cab::kHeaderSignature) return 0;
  const uint16_t version = GetLe16(fixed + cab::kHeaderOffsetVersion);
  if (version != cab::kSupportedVersion) {
    Fail(FDIERROR_UNKNOWN_CABINET_VERSION, version);
    return 0;
  }
  if (info) {
    const uint16_t flags = GetLe16(fixed + cab::kHeaderOffsetFlags);
    info->cbCabinet = static_cast<int32_t>(GetLe32(fixed + cab::kHeaderOffsetCabinetSize));
    info->cFolders = GetLe16(fixed + cab::kHeaderOffsetFolders);
    info->cFiles = GetLe16(fixed + cab::kHeaderOffsetFiles);
    info->setID = GetLe16(fixed + cab::kHeaderOffsetSetId);
    info->iCabinet = GetLe16(fixed + cab::kHeaderOffsetCabinetNumber);
    info->fReserve = (flags & cab::kFlagReservePresent) ? 1 : 0;
    info->hasprev = (flags & cab::kFlagPrevCabinet) ? 1 : 0;
    info->hasnext = (flags & cab::kFlagNextCabinet) ? 1 : 0;
  }
  return 1;
}

// ---------------------------------------------------------------- the copy

int FdiContext::Copy(const char* name, const char* directory, PFNFDINOTIFY notify, PFNFDIDECRYPT decrypt,
                     void* user) {
  if (!notify || !name) {
    Fail(FDIERROR_CABINET_NOT_FOUND);
    return 0;
  }
  notify_ = notify;
  decrypt_ = decrypt;
  user_ = user;
  inCopy_ = true;
  dataIsList_ = true;

  FDIERROR error = FDIERROR_NONE;
  int32_t version = 0;
  do {
    // The directory is kept (cut at its limit), as the caller may rewrite it
    // when a next cabinet is asked for.
    const size_t dirLength = directory ? strnlen(directory, cab::kMaxDirectoryLength) : 0;
    memcpy(directory_, directory ? directory : "", dirLength);
    directory_[dirLength] = 0;
    const size_t nameLength = strlen(name);
    if (nameLength > cab::kMaxNameLength) {
      error = FDIERROR_CABINET_NOT_FOUND;
      break;
    }
    memcpy(listPath_, directory_, dirLength);
    memcpy(listPath_ + dirLength, name, nameLength + 1);

    listFile_.handle = open_(listPath_, kFdiOpenFlags, kFdiOpenPermission);
    if (listFile_.handle == kNoHandle) {
      error = FDIERROR_CABINET_NOT_FOUND;
      break;
    }
    listFile_.position = 0;
    listFile_.positionKnown = true;
    dataFile_.handle = open_(listPath_, kFdiOpenFlags, kFdiOpenPermission);
    if (dataFile_.handle == kNoHandle) {
      error = FDIERROR_CABINET_NOT_FOUND;
      break;
    }
    dataFile_.position = 0;
    dataFile_.positionKnown = true;

    error = ReadHeader(listFile_, list_, &version);
    if (error) break;

    // A folder cursor left by the last copy carries on only where that copy
    // moved into this very cabinet for a spanned folder.
    if (cursor_.valid && !(cursor_.spanned && cursor_.setId == list_.setId &&
                           cursor_.cabinetNumber == list_.number && cursor_.folderIndex == 0 &&
                           list_.firstFolderContinued)) {
      cursor_.valid = false;
    }

    ClearNote();
    memcpy(nameCopy_, list_.nextName, sizeof(nameCopy_));
    memcpy(diskCopy_, list_.nextDisk, sizeof(diskCopy_));
    note_.psz1 = nameCopy_;
    note_.psz2 = diskCopy_;
    note_.psz3 = directory_;
    note_.setID = list_.setId;
    note_.iCabinet = list_.number;
    if (Notify(fdintCABINET_INFO) == -1) {
      error = FDIERROR_USER_ABORT;
      break;
    }
    directory_[cab::kMaxDirectoryLength] = 0;
    error = SendNewCabinet(listFile_, list_);
    if (error) break;

    uint32_t filesLeft = list_.fileCount;
    uint32_t listOffset = list_.filesOffset;
    for (;;) {
      ClearNote();
      note_.cb = static_cast<int32_t>(listOffset);
      note_.iFolder = static_cast<uint16_t>(filesLeft);
      note_.setID = list_.setId;
      note_.iCabinet = list_.number;
      if (Notify(fdintENUMERATE) == -1) {
        error = FDIERROR_USER_ABORT;
        break;
      }
      filesLeft = note_.iFolder;
      if (filesLeft == 0) break;
      if (static_cast<uint32_t>(note_.cb) != listOffset) listOffset = static_cast<uint32_t>(note_.cb);
      while (filesLeft > 0 && !error) {
        FileEntry entry;
        error = ReadFileEntry(&listOffset, &entry);
        if (!error) {
          --filesLeft;
          error = ProcessFile(entry);
        }
      }
      if (error) break;
    }
  } while (false);

  if (error) Fail(error, error == FDIERROR_UNKNOWN_CABINET_VERSION ? version : 0);
  CloseHandles();
  FreeFolders(list_);
  FreeFolders(data_);
  dataIsList_ = true;
  if (cursor_.valid && !cursor_.spanned) cursor_.valid = false;
  inCopy_ = false;
  notify_ = nullptr;
  decrypt_ = nullptr;
  return error ? 0 : 1;
}

FDIERROR FdiContext::ReadFileEntry(uint32_t* offset, FileEntry* entry) {
  uint8_t buffer[cab::kFileEntrySize + cab::kMaxNameLength + 1];
  const uint32_t got = ReadAt(listFile_, *offset, buffer, sizeof(buffer));
  if (got <= cab::kFileEntrySize) return FDIERROR_CORRUPT_CABINET;
  const uint8_t* name = buffer + cab::kFileEntrySize;
  const void* end = memchr(name, 0, got - cab::kFileEntrySize);
  if (!end) return FDIERROR_CORRUPT_CABINET;
  const uint32_t nameLength = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - name);
  memcpy(fileName_, name, nameLength + 1);
  entry->size = GetLe32(buffer);
  entry->offset = GetLe32(buffer + 4);
  entry->folder = GetLe16(buffer + 8);
  entry->date = GetLe16(buffer + 10);
  entry->time = GetLe16(buffer + 12);
  entry->attribs = GetLe16(buffer + 14);
  *offset += cab::kFileEntrySize + nameLength + 1;
  return FDIERROR_NONE;
}

FDIERROR FdiContext::ProcessFile(const FileEntry& entry) {
  if (entry.folder == cab::kFolderContinuedFromPrev || entry.folder == cab::kFolderContinuedPrevAndNext) {
    // Written by the copy of the cabinet where it began.
    ClearNote();
    note_.psz1 = fileName_;
    memcpy(nameCopy_, list_.prevName, sizeof(nameCopy_));
    memcpy(diskCopy_, list_.prevDisk, sizeof(diskCopy_));
    note_.psz2 = nameCopy_;
    note_.psz3 = diskCopy_;
    note_.setID = list_.setId;
    note_.iCabinet = list_.number;
    return Notify(fdintPARTIAL_FILE) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
  }
  uint16_t folder = entry.folder;
  if (folder == cab::kFolderContinuedToNext) {
    if (list_.folderCount == 0) return FDIERROR_CORRUPT_CABINET;
    folder = static_cast<uint16_t>(list_.folderCount - 1);
  }
  if (folder >= list_.folderCount) return FDIERROR_CORRUPT_CABINET;

  ClearNote();
  note_.cb = static_cast<int32_t>(entry.size);
  note_.psz1 = fileName_;
  note_.date = entry.date;
  note_.time = entry.time;
  note_.attribs = entry.attribs;
  note_.setID = list_.setId;
  note_.iCabinet = list_.number;
  note_.iFolder = entry.folder;
  const intptr_t handle = Notify(fdintCOPY_FILE);
  if (handle == -1) return FDIERROR_USER_ABORT;
  if (handle == 0) return FDIERROR_NONE;
  output_ = handle;

  if (FDIERROR e = Extract(folder, entry.offset, entry.size)) return e;

  ClearNote();
  note_.psz1 = fileName_;
  note_.hf = output_;
  note_.date = entry.date;
  note_.time = entry.time;
  note_.attribs = static_cast<uint16_t>(entry.attribs & ~cab::kAttribRunAfterExtract);
  note_.cb = (entry.attribs & cab::kAttribRunAfterExtract) ? 1 : 0;
  note_.setID = list_.setId;
  note_.iCabinet = list_.number;
  note_.iFolder = entry.folder;
  output_ = kNoHandle;  // the caller closes it
  const intptr_t closed = Notify(fdintCLOSE_FILE_INFO);
  if (closed == -1) return FDIERROR_USER_ABORT;
  if (closed == 0) return FDIERROR_TARGET_FILE;
  return FDIERROR_NONE;
}

// ---------------------------------------------------------------- folder data

FDIERROR FdiContext::Extract(uint16_t folderIndex, uint32_t offset, uint32_t size) {
  if (size == 0) {
    // Nothing to decode: the folder's type is checked, the cursor stays.
    switch (cab::CheckCompressionType(list_.folders[folderIndex].typeCompress)) {
      case cab::CodecStatus::kOk:
        return FDIERROR_NONE;
      case cab::CodecStatus::kBadType:
        return FDIERROR_BAD_COMPR_TYPE;
      default:
        return FDIERROR_MDI_FAIL;
    }
  }
  // The cursor's folder, whether it began in this cabinet or is this
  // cabinet's continuation of one that began earlier.
  const bool sameFolder =
      cursor_.valid && cursor_.setId == list_.setId &&
      ((cursor_.startNumber == list_.number && cursor_.startFolder == folderIndex) ||
       (cursor_.cabinetNumber == list_.number && cursor_.folderIndex == folderIndex));
  if (!sameFolder || cursor_.Position() > offset) {
    if (FDIERROR e = StartFolder(folderIndex)) return e;
  }
  // Decode and drop what lies before the file.
  while (cursor_.Position() < offset) {
    if (cursor_.blockUsed == cursor_.blockSize) {
      if (FDIERROR e = NextBlock()) return e;
    }
    const uint64_t skip = offset - cursor_.Position();
    const uint32_t available = cursor_.blockSize - cursor_.blockUsed;
    cursor_.blockUsed += skip < available ? static_cast<uint32_t>(skip) : available;
  }
  uint32_t remaining = size;
  while (remaining > 0) {
    if (cursor_.blockUsed == cursor_.blockSize) {
      if (FDIERROR e = NextBlock()) return e;
    }
    const uint32_t available = cursor_.blockSize - cursor_.blockUsed;
    const uint32_t chunk = remaining < available ? remaining : available;
    if (write_(output_, cursor_.block + cursor_.blockUsed, chunk) != chunk) return FDIERROR_TARGET_FILE;
    cursor_.blockUsed += chunk;
    remaining -= chunk;
  }
  return FDIERROR_NONE;
}

FDIERROR FdiContext::StartFolder(uint16_t folderIndex) {
  cursor_.valid = false;
  // Folder 0 of a continuing cabinet begins in the previous cabinet; it can
  // only be read on from there.
  if (folderIndex == 0 && list_.firstFolderContinued) return FDIERROR_CORRUPT_CABINET;
  const FolderEntry& folder = list_.folders[folderIndex];
  if (!codec_ || codec_->Type() != folder.typeCompress) {
    cab::DestroyDecompressor(allocator_, codec_);
    codec_ = nullptr;
    switch (cab::CreateDecompressor(folder.typeCompress, allocator_, &codec_)) {
      case cab::CodecStatus::kOk:
        break;
      case cab::CodecStatus::kNoMemory:
        return FDIERROR_ALLOC_FAIL;
      case cab::CodecStatus::kBadType:
        return FDIERROR_BAD_COMPR_TYPE;
      default:
        return FDIERROR_MDI_FAIL;
    }
  } else {
    codec_->Reset();
  }

  if (decrypt_) {
    uint8_t reserve[255];
    const uint32_t at = list_.foldersOffset + folderIndex * (cab::kFolderEntrySize + list_.folderReserve) +
                        cab::kFolderEntrySize;
    if (list_.folderReserve && ReadAt(listFile_, at, reserve, list_.folderReserve) != list_.folderReserve) {
      return FDIERROR_CORRUPT_CABINET;
    }
    FDIDECRYPT d;
    memset(&d, 0, sizeof(d));
    d.fdidt = fdidtNEW_FOLDER;
    d.pvUser = user_;
    d.folder.pFolderReserve = list_.folderReserve ? reserve : nullptr;
    d.folder.cbFolderReserve = list_.folderReserve;
    d.folder.iFolder = folderIndex;
    if (decrypt_(&d) == -1) return FDIERROR_USER_ABORT;
  }

  // The blocks are read from this cabinet again.
  if (!dataIsList_) {
    CloseFile(dataFile_);
    FreeFolders(data_);
    dataIsList_ = true;
    dataFile_.handle = open_(listPath_, kFdiOpenFlags, kFdiOpenPermission);
    if (dataFile_.handle == kNoHandle) return FDIERROR_CABINET_NOT_FOUND;
  }

  cursor_ = FolderCursor();
  cursor_.setId = list_.setId;
  cursor_.cabinetNumber = list_.number;
  cursor_.folderIndex = folderIndex;
  cursor_.startNumber = list_.number;
  cursor_.startFolder = folderIndex;
  cursor_.nextBlockOffset = folder.dataOffset;
  cursor_.blocksLeft = folder.dataBlocks;
  cursor_.continues = folderIndex + 1 == list_.folderCount && list_.HasNext();
  cursor_.dataReserve = list_.dataReserve;
  cursor_.valid = true;
  return FDIERROR_NONE;
}

FDIERROR FdiContext::NextBlock() {
  cursor_.blockStart += cursor_.blockSize;
  cursor_.block = nullptr;
  cursor_.blockSize = 0;
  cursor_.blockUsed = 0;

  uint32_t total = 0;  // compressed bytes gathered (a split block has two parts)
  uint32_t uncompressed = 0;
  for (;;) {
    if (cursor_.blocksLeft == 0) {
      if (!cursor_.continues) return FDIERROR_CORRUPT_CABINET;  // the folder has no more data
      if (FDIERROR e = OpenNextCabinet()) return e;
      continue;
    }
    uint8_t header[cab::kDataHeaderSize + 255];
    const uint32_t headerSize = cab::kDataHeaderSize + cursor_.dataReserve;
    if (ReadAt(dataFile_, cursor_.nextBlockOffset, header, headerSize) != headerSize) {
      return FDIERROR_CORRUPT_CABINET;
    }
    const uint32_t checksum = GetLe32(header);
    const uint32_t compressed = GetLe16(header + 4);
    uncompressed = GetLe16(header + 6);
    if (compressed > cab::kMaxCompressedBlockSize - total) return FDIERROR_CORRUPT_CABINET;
    uint8_t* const data = input_ + total;
    if (ReadFully(dataFile_.handle, data, compressed) != compressed) {
      dataFile_.positionKnown = false;
      return FDIERROR_CORRUPT_CABINET;
    }
    dataFile_.position += compressed;
    if (checksum != 0 && cab::CabChecksum(header + 4, 4, cab::CabChecksum(data, compressed, 0)) != checksum) {
      return FDIERROR_CORRUPT_CABINET;
    }
    if (decrypt_) {
      memcpy(dataReserve_, header + cab::kDataHeaderSize, cursor_.dataReserve);
      FDIDECRYPT d;
      memset(&d, 0, sizeof(d));
      d.fdidt = fdidtDECRYPT;
      d.pvUser = user_;
      d.decrypt.pDataReserve = cursor_.dataReserve ? dataReserve_ : nullptr;
      d.decrypt.cbDataReserve = cursor_.dataReserve;
      d.decrypt.pbData = data;
      d.decrypt.cbData = static_cast<uint16_t>(compressed);
      d.decrypt.fSplit = (uncompressed == 0 || total > 0) ? 1 : 0;
      d.decrypt.cbPartial = static_cast<uint16_t>(total);
      if (decrypt_(&d) == -1) return FDIERROR_USER_ABORT;
    }
    cursor_.nextBlockOffset += headerSize + compressed;
    --cursor_.blocksLeft;
    total += compressed;
    if (uncompressed != 0) break;
    // An uncompressed size of 0 marks a block split across cabinets: its
    // rest is the first block of the folder in the next cabinet.
    if (cursor_.blocksLeft != 0 || !cursor_.continues) return FDIERROR_CORRUPT_CABINET;
  }
  if (uncompressed > cab::kMaxBlockSize) return FDIERROR_CORRUPT_CABINET;
  memset(input_ + total, 0, cab::kBitReaderPadding);
  const uint8_t* out = nullptr;
  switch (codec_->DecodeBlock(input_, total, uncompressed, &out)) {
    case cab::CodecStatus::kOk:
      break;
    case cab::CodecStatus::kNoMemory:
      return FDIERROR_ALLOC_FAIL;
    default:
      return FDIERROR_MDI_FAIL;
  }
  cursor_.block = out;
  cursor_.blockSize = uncompressed;
  return FDIERROR_NONE;
}

FDIERROR FdiContext::OpenNextCabinet() {
  const CabinetHeader& current = DataHeader();
  const uint16_t setId = current.setId;
  const uint16_t number = static_cast<uint16_t>(current.number + 1);
  const uint8_t folderReserve = current.folderReserve;
  const uint8_t dataReserve = current.dataReserve;
  const uint16_t typeCompress = codec_ ? codec_->Type() : 0;
  char nextName[cab::kMaxNameLength + 1];
  char nextDisk[cab::kMaxNameLength + 1];
  memcpy(nextName, current.nextName, sizeof(nextName));
  memcpy(nextDisk, current.nextDisk, sizeof(nextDisk));

  FDIERROR last = FDIERROR_NONE;
  for (int attempt = 0; attempt < kNextCabinetTries; ++attempt) {
    ClearNote();
    memcpy(nameCopy_, nextName, sizeof(nameCopy_));
    memcpy(diskCopy_, nextDisk, sizeof(diskCopy_));
    note_.psz1 = nameCopy_;
    note_.psz2 = diskCopy_;
    note_.psz3 = directory_;
    note_.setID = setId;
    note_.iCabinet = number;
    note_.fdie = last;
    if (Notify(fdintNEXT_CABINET) == -1) return FDIERROR_USER_ABORT;
    directory_[cab::kMaxDirectoryLength] = 0;

    char path[cab::kMaxDirectoryLength + cab::kMaxNameLength + 1];
    const size_t dirLength = strlen(directory_);
    const size_t nameLength = strlen(nextName);
    memcpy(path, directory_, dirLength);
    memcpy(path + dirLength, nextName, nameLength + 1);

    CabinetFile file;
    file.handle = open_(path, kFdiOpenFlags, kFdiOpenPermission);
    if (file.handle == kNoHandle) {
      last = FDIERROR_CABINET_NOT_FOUND;
      continue;
    }
    file.positionKnown = true;
    CabinetHeader next = {};
    int32_t version = 0;
    FDIERROR e = ReadHeader(file, next, &version);
    if (e == FDIERROR_NONE) {
      if (next.setId != setId || next.number != number) {
        e = FDIERROR_WRONG_CABINET;
      } else if (next.folderReserve != folderReserve || next.dataReserve != dataReserve) {
        e = FDIERROR_RESERVE_MISMATCH;
      }
    }
    if (e == FDIERROR_NOT_A_CABINET || e == FDIERROR_UNKNOWN_CABINET_VERSION || e == FDIERROR_WRONG_CABINET ||
        e == FDIERROR_RESERVE_MISMATCH) {
      FreeFolders(next);
      close_(file.handle);
      last = e;
      continue;
    }
    if (e == FDIERROR_NONE && (next.folderCount == 0 || next.folders[0].typeCompress != typeCompress)) {
      e = FDIERROR_CORRUPT_CABINET;
    }
    if (e == FDIERROR_NONE) e = SendNewCabinet(file, next);
    if (e) {
      FreeFolders(next);
      close_(file.handle);
      return e;
    }

    // The folder goes on with the first folder of this cabinet.
    if (dataIsList_) {
      CloseFile(dataFile_);
    } else {
      CloseFile(dataFile_);
      FreeFolders(data_);
    }
    data_ = next;
    dataIsList_ = false;
    dataFile_ = file;
    cursor_.spanned = true;
    cursor_.setId = data_.setId;
    cursor_.cabinetNumber = data_.number;
    cursor_.folderIndex = 0;
    cursor_.nextBlockOffset = data_.folders[0].dataOffset;
    cursor_.blocksLeft = data_.folders[0].dataBlocks;
    cursor_.continues = data_.folderCount == 1 && data_.HasNext();
    cursor_.dataReserve = data_.dataReserve;
    return FDIERROR_NONE;
  }
  return last;
}

FdiContext* ContextOf(HFDI hfdi) {
  FdiContext* context = static_cast<FdiContext*>(hfdi);
  return context && context->Live() ? context : nullptr;
}

}  // namespace

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int /*cpuType*/, ERF* perf) {
  auto fail = [perf]() -> HFDI {
    if (perf) {
      perf->erfOper = FDIERROR_ALLOC_FAIL;
      perf->erfType = 0;
      perf->fError = 1;
    }
    return nullptr;
  };
  if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) return fail();
  const cab::Allocator allocator{pfnalloc, pfnfree};
  FdiContext* context =
      allocator.New<FdiContext>(pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, perf);
  if (!context) return fail();
  if (!context->Init()) {
    allocator.Delete(context);
    return fail();
  }
  return context;
}

int FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici) {
  FdiContext* context = ContextOf(hfdi);
  return context ? context->IsCabinet(hf, pfdici) : 0;
}

int FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int /*flags*/, PFNFDINOTIFY pfnfdin,
            PFNFDIDECRYPT pfnfdid, void* pvUser) {
  FdiContext* context = ContextOf(hfdi);
  if (!context || context->Busy()) return 0;
  return context->Copy(pszCabinet, pszCabPath, pfnfdin, pfnfdid, pvUser);
}

int FDIDestroy(HFDI hfdi) {
  FdiContext* context = ContextOf(hfdi);
  if (!context || context->Busy()) return 0;
  const cab::Allocator allocator = context->Allocator();
  allocator.Delete(context);
  return 1;
}
