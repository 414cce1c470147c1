// The file-decompression interface (FDI) of the Microsoft Cabinet format:
// our own implementation of the published interface, with its records,
// notifications and error codes.
//
// Differences from the published declarations, none of which changes the
// behaviour: callback types use fixed-width integers (a 32-bit allocation
// size and seek distance on every build) and const pointers where the
// callee only reads. The records keep the published layout, which the
// 32-bit build pins below.
//
// Threads: a context is used by one thread at a time; the callbacks run
// synchronously on the calling thread. All memory and file access goes
// through the callbacks given to FDICreate; the decoder does no input or
// output of its own and writes no log.
#pragma once

#include <cstddef>
#include <cstdint>

// Error codes of the error record (ERF::erfOper).
enum FDIERROR : int32_t {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_NOT_FOUND = 1,         // the open callback failed
  FDIERROR_NOT_A_CABINET = 2,             // short header or wrong signature
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,   // version not 0x0103 (erfType: the version)
  FDIERROR_CORRUPT_CABINET = 4,           // bad structure, short read, checksum mismatch
  FDIERROR_ALLOC_FAIL = 5,                // the alloc callback failed
  FDIERROR_BAD_COMPR_TYPE = 6,            // unknown folder compression type
  FDIERROR_MDI_FAIL = 7,                  // decompressor failed to set up or to decode
  FDIERROR_TARGET_FILE = 8,               // writing a target file failed
  FDIERROR_RESERVE_MISMATCH = 9,          // next cabinet's reserve sizes differ
  FDIERROR_WRONG_CABINET = 10,            // next cabinet is not the next of the set
  FDIERROR_USER_ABORT = 11,               // a callback returned -1
};

// The caller's error record: filled on every failure, never cleared.
struct ERF {
  int32_t erfOper;  // FDIERROR code
  int32_t erfType;  // operating-system value (the version for error 3), else 0
  int32_t fError;   // 1 once an error was reported
};

enum FDINOTIFICATIONTYPE : int32_t {
  fdintCABINET_INFO = 0,      // general information about the cabinet
  fdintPARTIAL_FILE = 1,      // first file in cabinet is continuation
  fdintCOPY_FILE = 2,         // file to be copied: return a handle, 0 to skip, -1 to abort
  fdintCLOSE_FILE_INFO = 3,   // close the file, set relevant info
  fdintNEXT_CABINET = 4,      // file continued to next cabinet
  fdintENUMERATE = 5,         // enumeration status
};

// The record passed with every notification.
struct FDINOTIFICATION {
  int32_t cb;        // file size (copy), position (enumerate), run-after-extract flag (close)
  char* psz1;        // file name, or next cabinet name
  char* psz2;        // previous or next disk/cabinet name
  char* psz3;        // cabinet directory (next-cabinet: may be rewritten, 256 bytes)
  void* pv;          // the user value given to FDICopy
  intptr_t hf;       // the output handle (close)
  uint16_t date;     // MS-DOS date of the file
  uint16_t time;     // MS-DOS time of the file
  uint16_t attribs;  // file attributes
  uint16_t setID;    // cabinet set ID
  uint16_t iCabinet; // number of the cabinet in its set
  uint16_t iFolder;  // folder index (copy), files still to list (enumerate)
  FDIERROR fdie;     // error of the last try (next cabinet)
};

// Filled by FDIIsCabinet.
struct FDICABINETINFO {
  int32_t cbCabinet;  // total length of the cabinet
  uint16_t cFolders;
  uint16_t cFiles;
  uint16_t setID;
  uint16_t iCabinet;
  int32_t fReserve;   // reserve fields present
  int32_t hasprev;    // a previous cabinet exists
  int32_t hasnext;    // a next cabinet exists
};

enum FDIDECRYPTTYPE : int32_t {
  fdidtNEW_CABINET = 0,  // a cabinet was opened
  fdidtNEW_FOLDER = 1,   // a folder is set up
  fdidtDECRYPT = 2,      // a data block is about to be decompressed
};

struct FDIDECRYPT {
  FDIDECRYPTTYPE fdidt;
  void* pvUser;
  union {
    struct {
      void* pHeaderReserve;
      uint16_t cbHeaderReserve;
      uint16_t setID;
      int32_t iCabinet;
    } cabinet;
    struct {
      void* pFolderReserve;
      uint16_t cbFolderReserve;
      uint16_t iFolder;
    } folder;
    struct {
      void* pDataReserve;
      uint16_t cbDataReserve;
      void* pbData;
      uint16_t cbData;
      int32_t fSplit;
      uint16_t cbPartial;
    } decrypt;
  };
};

// Published record layouts, as the 32-bit product lays them out.
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(ERF) == 12, "ERF layout");
static_assert(sizeof(FDINOTIFICATION) == 40, "FDINOTIFICATION layout");
static_assert(offsetof(FDINOTIFICATION, hf) == 20, "FDINOTIFICATION layout");
static_assert(offsetof(FDINOTIFICATION, date) == 24, "FDINOTIFICATION layout");
static_assert(offsetof(FDINOTIFICATION, iFolder) == 34, "FDINOTIFICATION layout");
static_assert(offsetof(FDINOTIFICATION, fdie) == 36, "FDINOTIFICATION layout");
static_assert(sizeof(FDICABINETINFO) == 24, "FDICABINETINFO layout");
static_assert(offsetof(FDICABINETINFO, fReserve) == 12, "FDICABINETINFO layout");
static_assert(sizeof(FDIDECRYPT) == 32, "FDIDECRYPT layout");
#endif

// cpu types for FDICreate (accepted and ignored).
constexpr int cpuUNKNOWN = -1;
constexpr int cpu80286 = 0;
constexpr int cpu80386 = 1;

using HFDI = void*;
using PFNALLOC = void* (*)(uint32_t cb);
using PFNFREE = void (*)(void* pv);
using PFNOPEN = intptr_t (*)(const char* pszFile, int oflag, int pmode);  // -1 on failure
using PFNREAD = uint32_t (*)(intptr_t hf, void* pv, uint32_t cb);          // 0xFFFFFFFF on failure
using PFNWRITE = uint32_t (*)(intptr_t hf, const void* pv, uint32_t cb);   // 0xFFFFFFFF on failure
using PFNCLOSE = int (*)(intptr_t hf);                                     // 0 on success
using PFNSEEK = int32_t (*)(intptr_t hf, int32_t dist, int seektype);      // new position, -1 on failure
using PFNFDINOTIFY = intptr_t (*)(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION* pfdin);
using PFNFDIDECRYPT = int (*)(FDIDECRYPT* pfdid);                          // -1 aborts

// Flags and permissions the decoder passes to the open callback for cabinets
// (binary read-only; read and write permission).
constexpr int kFdiOpenFlags = 0x8000;
constexpr int kFdiOpenPermission = 0x180;

// A new context, with its memory from `pfnalloc`; null on failure with
// error 5 in *perf. `cpuType` is accepted and ignored.
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);

// Reads the 36-byte cabinet header from `hf`'s current position (it is not
// moved back). 0 without touching the error record when fewer bytes arrive
// or the signature is wrong; 0 with error 3 and the version for a version
// other than 0x0103; else fills *pfdici and returns 1.
int FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici);

// Opens pszCabPath + pszCabinet, offers every file to `pfnfdin` and writes
// every accepted one through the write callback. 1 on success, 0 with the
// error record set on any failure. Closes the cabinet and any open output
// handle on every way out. `flags` is ignored; `pfnfdid` may be null.
int FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
            PFNFDIDECRYPT pfnfdid, void* pvUser);

// Releases the context and everything it holds (closing handles still
// open). 1 on success, 0 for a handle that is not a live context.
int FDIDestroy(HFDI hfdi);
