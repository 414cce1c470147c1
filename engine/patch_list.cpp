#include "engine/patch_list.h"

#include <cstring>

#include "engine/patch_log.h"
#include "platform/file_system.h"

namespace {

// Reads the list field by field; the first failed or short read ends the
// whole reading, since every later field would be read out of place.
class ListReader {
 public:
  explicit ListReader(plat::File& file) : file_(file) {}

  bool Bytes(void* out, uint32_t size, const char* label) {
    uint32_t got = 0;
    if (!file_.Read(out, size, &got)) {
      LogWrite(kLogError, "ReadFile returns false : attr name [%s]", label);
      return false;
    }
    if (got == 0 && size != 0) {
      LogWrite(kLogError, "ReadFile read 0 bytes : attr name [%s]", label);
      return false;
    }
    if (got < size) {
      LogWrite(kLogError, "ReadFile read %u of %u bytes : attr name [%s]", got, size, label);
      return false;
    }
    return true;
  }

  bool U8(uint8_t& v, const char* label) { return Bytes(&v, 1, label); }

  bool U32(uint32_t& v, const char* label) {
    uint8_t b[4];
    if (!Bytes(b, 4, label)) return false;
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
        static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

  bool U64(uint64_t& v, const char* label) {
    uint8_t b[8];
    if (!Bytes(b, 8, label)) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    return true;
  }

  bool Text(std::string& text, const char* sizeLabel) {
    uint8_t size = 0;
    if (!U8(size, sizeLabel)) return false;
    char buffer[256];
    if (size > 0 && !Bytes(buffer, size, "szBuffer")) return false;
    text.assign(buffer, size);
    return true;
  }

 private:
  plat::File& file_;
};

}  // namespace

uint32_t ReadPatchListFile(const std::string& path, uint32_t version, PatchList& list, ExpectedCrcMap& expected,
                           bool keepProtected) {
  list = PatchList{};
  plat::File file;
  if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    LogWrite(kLogError, "Failed CreateFile : FileName [%s]", path.c_str());
    return kListUnreadable;
  }
  ListReader in(file);
  LogWrite(kLogDetail, "[Patch file list informations]");

  if (!in.U32(list.dwPatchSystemVersion, "&m_CurrentPatchList.dwPatchSystemVersion")) return kListUnreadable;
  if (list.dwPatchSystemVersion != 2) {
    LogWrite(kLogError, "Invalid Patch system version : %d", static_cast<int32_t>(list.dwPatchSystemVersion));
    return kListBadSystemVersion;
  }
  LogWrite(kLogDetail, "Patch System Version : %d", 2);
  if (!in.U32(list.dwPatchVersion, "&m_CurrentPatchList.dwPatchVersion")) return kListUnreadable;
  LogWrite(kLogDetail, "PatchVersion : %d", static_cast<int32_t>(list.dwPatchVersion));
  if (!in.U8(list.btBuildType, "&m_CurrentPatchList.btBuildType")) return kListUnreadable;
  LogWrite(kLogDetail, "Build Type : %d", list.btBuildType);
  if (!in.U32(list.dwSectionNum, "&m_CurrentPatchList.dwSectionNum")) return kListUnreadable;
  LogWrite(kLogDetail, "Section Count : %d", static_cast<int32_t>(list.dwSectionNum));

  // Every section needs at least two CRC bytes and a count in the file, so a
  // count beyond the file's size is corrupt; checking first keeps a hostile
  // count from reserving memory.
  uint64_t fileSize = 0;
  if (!file.Size(&fileSize) || static_cast<uint64_t>(list.dwSectionNum) * 6 > fileSize) {
    LogWrite(kLogError, "Section count [%u] does not fit the list file [%s]", list.dwSectionNum, path.c_str());
    return kListUnreadable;
  }

  for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
    std::string diffCrc, normalCrc;
    if (!in.Text(diffCrc, "&btCheckSumSize")) return kListUnreadable;
    list.diffCabCrcs.push_back(diffCrc);
    LogWrite(kLogDetail, "Cab file CRC : Section [%d] Diff CRC [%s]", static_cast<int32_t>(s), diffCrc.c_str());
    if (!in.Text(normalCrc, "&btCheckSumSize")) return kListUnreadable;
    list.normalCabCrcs.push_back(normalCrc);
    LogWrite(kLogDetail, "Cab file CRC : Section [%d] File CRC [%s]", static_cast<int32_t>(s), normalCrc.c_str());
  }

  for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
    uint32_t fileNum = 0;
    if (!in.U32(fileNum, "&fileNum")) return kListUnreadable;
    LogWrite(kLogDetail, "Files Information Section [%d], File Count [%d]", static_cast<int32_t>(s),
             static_cast<int32_t>(fileNum));
    std::vector<PatchFileInfo> files;
    for (uint32_t i = 0; i < fileNum; ++i) {
      PatchFileInfo fi;
      std::string stored;
      if (!in.Text(stored, "&btFileNameSize")) return kListUnreadable;
      if (!in.Text(fi.oldCrc, "&btOldCheckSumSize")) return kListUnreadable;
      if (!in.Text(fi.newCrc, "&btCheckSumSize")) return kListUnreadable;
      if (!in.U8(fi.btFileType, "&fi.btFileType")) return kListUnreadable;
      if (!in.U64(fi.OrgFileSize, "&fi.OrgFileSize")) return kListUnreadable;
      if (!in.U64(fi.NewFileSize, "&fi.NewFileSize")) return kListUnreadable;
      fi.name = stored.empty() ? std::string() : stored.substr(1);
      LogWrite(kLogDetail, "Name [%s], OldCRC [%s], NewCRC [%s], FileType [%d], OrgSize [%.2fkb], NewSize [%.2fkb]",
               fi.name.c_str(), fi.oldCrc.c_str(), fi.newCrc.c_str(), fi.btFileType,
               static_cast<double>(fi.OrgFileSize) / 1024.0, static_cast<double>(fi.NewFileSize) / 1024.0);
      // A list from a broken or hostile server must not make the patcher
      // write outside the client folder.
      if (!IsSafeRelativePath(fi.name)) {
        LogWrite(kLogError, "Unsafe file name in patch list [%s]", fi.name.c_str());
        return kListUnreadable;
      }
      if (!keepProtected && IsProtectedFile(fi.name)) {
        LogWrite(kLogProtected, "Ignore file was included in patch [%d] filename [%s]", static_cast<int32_t>(version),
                 fi.name.c_str());
        continue;
      }
      expected[LowerFileName(fi.name)] = fi.newCrc;
      ++list.acceptedFiles;
      files.push_back(std::move(fi));
    }
    list.sectionFiles.push_back(std::move(files));
  }
  return 0;
}
