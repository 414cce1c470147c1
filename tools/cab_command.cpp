// patchtool cab list CAB       one line per file: size, stored name, folder compression
// patchtool cab extract CAB DIR every file into DIR; '\\' and '/' in stored
//                               names become folders
//
// Both go through our cabinet decoder with the C-runtime callbacks, as the
// engine does. A stored name that is absolute or climbs out of DIR with ".."
// is refused: nothing is ever written outside DIR.
//
// Exit status: 0 on success; 2 for wrong arguments; the FDI error code
// (1-11) when the decoder fails; 20 when names were refused (the other
// files are still extracted).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apply/cab/cab_format.h"
#include "apply/cab/fdi.h"
#include "platform/crt_io.h"
#include "platform/file_system.h"
#include "tools/commands.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitRefusedNames = 20;

const char* ErrorText(int code) {
  switch (code) {
    case FDIERROR_NONE:
      return "no error";
    case FDIERROR_CABINET_NOT_FOUND:
      return "cabinet not found";
    case FDIERROR_NOT_A_CABINET:
      return "not a cabinet";
    case FDIERROR_UNKNOWN_CABINET_VERSION:
      return "unknown cabinet version";
    case FDIERROR_CORRUPT_CABINET:
      return "corrupt cabinet";
    case FDIERROR_ALLOC_FAIL:
      return "out of memory";
    case FDIERROR_BAD_COMPR_TYPE:
      return "unknown compression type";
    case FDIERROR_MDI_FAIL:
      return "decompression failed";
    case FDIERROR_TARGET_FILE:
      return "cannot write a target file";
    case FDIERROR_RESERVE_MISMATCH:
      return "reserve sizes do not match the cabinet set";
    case FDIERROR_WRONG_CABINET:
      return "wrong next cabinet";
    case FDIERROR_USER_ABORT:
      return "aborted";
    default:
      return "unknown error";
  }
}

std::string CompressionText(uint16_t type) {
  const unsigned window = (type >> 8) & 0x1F;
  switch (type & 0x000F) {
    case 0:
      return "none";
    case 1:
      return "mszip";
    case 2:
      return "quantum:" + std::to_string(window);
    case 3:
      return "lzx:" + std::to_string(window);
    case 15:
      return "none-to-set-up";
    default:
      return "type:" + std::to_string(type & 0x000F);
  }
}

// The compression type of each folder, read from the cabinet's header (the
// decoder's notifications carry only folder indices).
std::vector<uint16_t> ReadFolderTypes(const std::string& path) {
  std::vector<uint16_t> types;
  const intptr_t fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenReadBinary, 0);
  if (fd == -1) return types;
  auto readAt = [fd](uint32_t offset, void* buffer, uint32_t size) {
    return plat::CrtSeek(fd, static_cast<int32_t>(offset), 0) == static_cast<int32_t>(offset) &&
           plat::CrtRead(fd, buffer, size) == size;
  };
  uint8_t header[cab::kHeaderSize];
  if (readAt(0, header, sizeof(header))) {
    const uint16_t folders = cab::GetLe16(header + cab::kHeaderOffsetFolders);
    const uint16_t flags = cab::GetLe16(header + cab::kHeaderOffsetFlags);
    uint32_t offset = cab::kHeaderSize;
    uint32_t folderReserve = 0;
    bool ok = true;
    if (flags & cab::kFlagReservePresent) {
      uint8_t sizes[4];
      ok = readAt(offset, sizes, 4);
      folderReserve = sizes[2];
      offset += 4 + cab::GetLe16(sizes);
    }
    // Skip the previous/next cabinet and disk names.
    int names = ((flags & cab::kFlagPrevCabinet) ? 2 : 0) + ((flags & cab::kFlagNextCabinet) ? 2 : 0);
    while (ok && names-- > 0) {
      uint8_t byte = 1;
      uint32_t length = 0;
      while ((ok = readAt(offset, &byte, 1)) && byte != 0 && length <= cab::kMaxNameLength) {
        ++offset;
        ++length;
      }
      ++offset;
    }
    for (uint32_t i = 0; ok && i < folders; ++i) {
      uint8_t entry[cab::kFolderEntrySize];
      ok = readAt(offset, entry, sizeof(entry));
      if (ok) types.push_back(cab::GetLe16(entry + 6));
      offset += cab::kFolderEntrySize + folderReserve;
    }
  }
  plat::CrtClose(fd);
  return types;
}

// Splits a stored name at '\\' and '/'. False for a name that is absolute
// (leading separator or drive letter) or has a ".." component; "." and empty
// components are dropped.
bool SafeComponents(const std::string& name, std::vector<std::string>* parts) {
  parts->clear();
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (part == "..") return false;
      if (!part.empty() && part != ".") parts->push_back(part);
      part.clear();
    } else {
      part += name[i];
    }
  }
  return !parts->empty();
}

struct ListState {
  std::vector<uint16_t> folderTypes;
};

intptr_t ListNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  const ListState* state = static_cast<const ListState*>(note->pv);
  if (type != fdintCOPY_FILE && type != fdintPARTIAL_FILE) return type == fdintCABINET_INFO ? 0 : 1;
  std::string compression = "?";
  if (!state->folderTypes.empty()) {
    size_t folder = note->iFolder;
    if (type == fdintPARTIAL_FILE || folder == cab::kFolderContinuedFromPrev ||
        folder == cab::kFolderContinuedPrevAndNext) {
      folder = 0;
    } else if (folder == cab::kFolderContinuedToNext) {
      folder = state->folderTypes.size() - 1;
    }
    if (folder < state->folderTypes.size()) compression = CompressionText(state->folderTypes[folder]);
  }
  if (type == fdintPARTIAL_FILE) {
    printf("%10s  %s  %s (continued from %s)\n", "-", note->psz1, compression.c_str(), note->psz2);
  } else {
    printf("%10u  %s  %s\n", static_cast<uint32_t>(note->cb), note->psz1, compression.c_str());
  }
  return type == fdintCOPY_FILE ? 0 : 1;  // list only: skip every file
}

struct ExtractState {
  std::string dir;  // ends with a separator
  int refused = 0;
  std::string failedPath;
};

intptr_t ExtractNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  ExtractState* state = static_cast<ExtractState*>(note->pv);
  switch (type) {
    case fdintCOPY_FILE: {
      std::vector<std::string> parts;
      if (!SafeComponents(note->psz1, &parts)) {
        fprintf(stderr, "patchtool: refusing unsafe name \"%s\"\n", note->psz1);
        ++state->refused;
        return 0;
      }
      std::string path = state->dir;
      for (size_t i = 0; i + 1 < parts.size(); ++i) {
        path += parts[i];
        if (!plat::DirectoryExists(path) && !plat::CreateFolder(path)) {
          state->failedPath = path;
          return -1;
        }
        path += '/';
      }
      path += parts.back();
      const intptr_t fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
      if (fd == -1) {
        state->failedPath = path;
        return -1;
      }
      return fd;
    }
    case fdintCLOSE_FILE_INFO:
      if (note->hf && plat::CrtClose(note->hf) != 0) return 0;
      return 1;
    case fdintCABINET_INFO:
      return 0;
    default:
      return 1;
  }
}

// Splits CAB into the folder part (with its separator) and the name.
void SplitPath(const std::string& path, std::string* dir, std::string* name) {
  const size_t cut = path.find_last_of("/\\");
  *dir = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  *name = cut == std::string::npos ? path : path.substr(cut + 1);
}

int RunCopy(const std::string& cabPath, PFNFDINOTIFY notify, void* user) {
  ERF erf = {};
  HFDI hfdi = FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite, plat::CrtClose,
                        plat::CrtSeek, cpuUNKNOWN, &erf);
  if (!hfdi) {
    fprintf(stderr, "patchtool: cannot set up the decoder: FDI error %d (%s)\n", erf.erfOper, ErrorText(erf.erfOper));
    return erf.erfOper ? erf.erfOper : 1;
  }
  std::string dir, name;
  SplitPath(cabPath, &dir, &name);
  const int ok = FDICopy(hfdi, name.c_str(), dir.c_str(), 0, notify, nullptr, user);
  FDIDestroy(hfdi);
  if (ok) return 0;
  if (erf.erfOper == FDIERROR_UNKNOWN_CABINET_VERSION) {
    fprintf(stderr, "patchtool: %s: FDI error %d (%s 0x%04x)\n", cabPath.c_str(), erf.erfOper,
            ErrorText(erf.erfOper), static_cast<unsigned>(erf.erfType));
  } else {
    fprintf(stderr, "patchtool: %s: FDI error %d (%s)\n", cabPath.c_str(), erf.erfOper, ErrorText(erf.erfOper));
  }
  return erf.erfOper ? erf.erfOper : 1;
}

int Usage() {
  fprintf(stderr, "usage: patchtool cab list CAB\n       patchtool cab extract CAB DIR\n");
  return kExitUsage;
}

}  // namespace

int CabCommand(int argc, char** argv) {
  if (argc < 1) return Usage();
  if (strcmp(argv[0], "list") == 0 && argc == 2) {
    ListState state;
    state.folderTypes = ReadFolderTypes(argv[1]);
    return RunCopy(argv[1], ListNotify, &state);
  }
  if (strcmp(argv[0], "extract") == 0 && argc == 3) {
    ExtractState state;
    state.dir = argv[2];
    if (state.dir.empty()) state.dir = ".";
    if (!plat::DirectoryExists(state.dir) && !plat::CreateFolder(state.dir)) {
      fprintf(stderr, "patchtool: cannot create %s\n", state.dir.c_str());
      return FDIERROR_TARGET_FILE;
    }
    if (state.dir.back() != '/' && state.dir.back() != '\\') state.dir += '/';
    const int status = RunCopy(argv[1], ExtractNotify, &state);
    if (!state.failedPath.empty()) fprintf(stderr, "patchtool: cannot create %s\n", state.failedPath.c_str());
    if (status != 0) return status;
    if (state.refused) {
      fprintf(stderr, "patchtool: %d file(s) with unsafe names not extracted\n", state.refused);
      return kExitRefusedNames;
    }
    return 0;
  }
  return Usage();
}
