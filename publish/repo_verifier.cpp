#include "publish/repo_verifier.h"

#include <map>

#include "apply/delta/delta_decoder.h"
#include "download/crc32.h"
#include "engine/folders.h"
#include "engine/patch_list.h"
#include "platform/file_system.h"
#include "platform/ini_profile.h"
#include "publish/cab_reader.h"
#include "publish/client_tree.h"
#include "publish/manifest_writer.h"
#include "publish/repo_files.h"
#include "streams/virtual_memory_file_stream.h"

namespace publish {

namespace {

// What a client holds at the version being checked, as far as known.
struct KnownFile {
  std::string path;  // its bytes: in the client tree or the scratch folder
  bool scratch = false;
};

bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return false;
  bytes->assign(text.begin(), text.end());
  return true;
}

class Verifier {
 public:
  Verifier(const VerifyOptions& options, VerifyReport& report) : options_(options), report_(report) {}

  void Run(const std::function<void(uint32_t)>& progress) {
    const std::string manifest = RepoPath(options_.repo, "version.ini");
    if (!plat::FileExists(manifest)) return Problem("version.ini: missing");
    report_.latest = plat::ReadProfileInt(kVersionSection, "LatestVersion", 0, manifest);
    report_.minimal = plat::ReadProfileInt(kVersionSection, "MinimalVersion", 0, manifest);
    char server[512];
    if (plat::ReadProfileString(kDownloadSection, "server1", "", server, sizeof server, manifest) == 0) {
      Problem("version.ini: no server1 in [DOWNLOAD]");
    }
    if (report_.latest < report_.minimal) {
      return Problem("version.ini: LatestVersion " + std::to_string(report_.latest) + " is below MinimalVersion " +
                     std::to_string(report_.minimal));
    }
    if (!options_.clientTree.empty()) {
      const TreeScan scan = ScanTree(options_.clientTree);
      for (const std::string& p : scan.problems) Problem("client tree: " + p);
      for (const TreeFile& file : scan.files) known_[ClientKey(file.name)] = KnownFile{file.path, false};
    }
    for (uint32_t v = report_.minimal + 1; v <= report_.latest && v != 0; ++v) {
      if (progress) progress(v);
      CheckVersion(v);
    }
    CheckDeleteList();
  }

 private:
  void Problem(const std::string& text) { report_.problems.push_back(text); }

  void CheckVersion(uint32_t v) {
    const std::string where = std::to_string(v) + "/";
    const std::string listPath = RepoPath(options_.repo, std::to_string(v) + "\\version.list");
    if (!plat::FileExists(listPath)) return Problem(where + "version.list: missing");
    PatchList list;
    ExpectedCrcMap expected;
    const uint32_t read = ReadPatchListFile(listPath, v, list, expected, true);
    if (read != 0) return Problem(where + "version.list: unreadable (result " + std::to_string(read) + ")");
    ++report_.versions;
    if (list.dwPatchVersion != v) {
      Problem(where + "version.list: names version " + std::to_string(list.dwPatchVersion));
    }
    if (list.dwSectionNum > 0) lastListNames_.clear();
    for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
      ++report_.sections;
      CheckSection(v, s, list);
    }
  }

  void CheckSection(uint32_t v, uint32_t s, const PatchList& list) {
    const std::vector<PatchFileInfo>& records = list.sectionFiles[s - 1];
    const std::string folder = std::to_string(v) + "\\";
    const std::string shown = std::to_string(v) + "/" + std::to_string(s);
    const std::string scratch = std::to_string(v) + "-" + std::to_string(s);
    std::map<std::string, CabEntry> diff;
    std::map<std::string, CabEntry> normal;
    const bool haveDiff = ReadCab(folder + std::to_string(s) + "D.cab", list.diffCabCrcs[s - 1], scratch + "D", diff);
    const bool haveNormal =
        ReadCab(folder + std::to_string(s) + "N.cab", list.normalCabCrcs[s - 1], scratch + "N", normal);
    for (const PatchFileInfo& record : records) {
      ++report_.files;
      const std::string what = shown + " " + record.name + ": ";
      lastListNames_.push_back(ClientKey(record.name));
      if (IsProtectedFile(record.name)) Problem(what + "a protected name, which the patcher ignores");
      if (record.btFileType != 1 && record.btFileType != 2) {
        Problem(what + "file type " + std::to_string(record.btFileType));
      }
      const CabEntry* whole = Find(normal, record.name);
      if (haveNormal && !whole) Problem(what + "not in the N cabinet");
      if (whole) CheckWhole(what + "N cabinet: ", *whole, record);
      const CabEntry* shipped = Find(diff, record.name);
      if (haveDiff && !shipped) Problem(what + "not in the D cabinet");
      if (shipped && record.btFileType == 2) CheckWhole(what + "D cabinet: ", *shipped, record);
      if (shipped && record.btFileType == 1) CheckDelta(what, *shipped, record);
      // The client now has the new file; its bytes are the N cabinet's.
      auto& slot = known_[ClientKey(record.name)];
      if (slot.scratch) plat::RemoveFile(slot.path);
      if (whole) {
        slot = KnownFile{whole->path, true};
      } else {
        known_.erase(ClientKey(record.name));
      }
    }
    for (auto* cab : {&diff, &normal}) {
      for (auto& [name, entry] : *cab) {
        bool listed = false;
        for (const PatchFileInfo& record : records) listed = listed || record.name == name;
        if (!listed) Problem(shown + ": a cabinet holds " + name + ", which the list does not name");
        const auto kept = known_.find(ClientKey(name));
        if (kept == known_.end() || kept->second.path != entry.path) plat::RemoveFile(entry.path);
      }
    }
  }

  static const CabEntry* Find(const std::map<std::string, CabEntry>& cab, const std::string& name) {
    const auto found = cab.find(name);
    return found == cab.end() ? nullptr : &found->second;
  }

  bool ReadCab(const std::string& relative, const std::string& listedCrc, const std::string& stem,
               std::map<std::string, CabEntry>& entries) {
    std::string shown = relative;
    for (char& c : shown) c = c == '\\' ? '/' : c;
    const std::string path = RepoPath(options_.repo, relative);
    if (!plat::FileExists(path)) {
      Problem(shown + ": missing");
      return false;
    }
    ++report_.cabinets;
    const std::string crc = GetFileCrcText(path);
    if (!CrcTextEquals(crc, listedCrc)) Problem(shown + ": CRC " + crc + ", the list says " + listedCrc);
    const CabContents contents = ExtractCabinet(path, options_.scratch, stem);
    if (!contents.ok) {
      Problem(shown + ": " + contents.error);
      for (const CabEntry& entry : contents.files) plat::RemoveFile(entry.path);
      return false;
    }
    for (const CabEntry& entry : contents.files) {
      if (!entries.emplace(entry.name, entry).second) {
        Problem(shown + ": holds " + entry.name + " twice");
        plat::RemoveFile(entry.path);
      }
    }
    return true;
  }

  void CheckWhole(const std::string& what, const CabEntry& entry, const PatchFileInfo& record) {
    if (entry.size != record.NewFileSize) {
      Problem(what + std::to_string(entry.size) + " bytes, the list says " + std::to_string(record.NewFileSize));
    }
    const std::string crc = GetFileCrcText(entry.path);
    if (!CrcTextEquals(crc, record.newCrc)) Problem(what + "CRC " + crc + ", the list says " + record.newCrc);
  }

  void CheckDelta(const std::string& what, const CabEntry& delta, const PatchFileInfo& record) {
    const auto original = known_.find(ClientKey(record.name));
    if (original == known_.end()) {
      ++report_.deltasUnchecked;
      return;
    }
    const std::string oldCrc = GetFileCrcText(original->second.path);
    const uint64_t oldSize = GetFileSize64(original->second.path);
    if (!CrcTextEquals(oldCrc, record.oldCrc) || oldSize != record.OrgFileSize) {
      return Problem(what + "the previous version's file has CRC " + oldCrc + " and " + std::to_string(oldSize) +
                     " bytes, the list says " + record.oldCrc + " and " + std::to_string(record.OrgFileSize));
    }
    std::vector<uint8_t> originalBytes;
    std::vector<uint8_t> deltaBytes;
    if (!ReadBytes(original->second.path, &originalBytes) || !ReadBytes(delta.path, &deltaBytes)) {
      return Problem(what + "cannot read the delta or its original");
    }
    const std::string output = delta.path + ".out";
    vestrel::CVirtualMemoryFileStream out;
    out.SetBufferSize(1 << 20);
    out.SetFileName(output);
    const uint32_t result = CDeltaDecoder().DecodeMemory(
        originalBytes.data(), static_cast<uint32_t>(originalBytes.size()), deltaBytes.data(),
        static_cast<uint32_t>(deltaBytes.size()), out, nullptr);
    ++report_.deltasApplied;
    if (result != kDeltaOk) {
      Problem(what + "the delta does not apply (decoder result " + std::to_string(result) + ")");
    } else {
      const std::string crc = GetFileCrcText(output);
      const uint64_t size = GetFileSize64(output);
      if (!CrcTextEquals(crc, record.newCrc) || size != record.NewFileSize) {
        Problem(what + "the delta gives CRC " + crc + " and " + std::to_string(size) + " bytes, the list says " +
                record.newCrc + " and " + std::to_string(record.NewFileSize));
      }
    }
    plat::RemoveFile(output);
  }

  void CheckDeleteList() {
    const std::string path = RepoPath(options_.repo, "delete.ini");
    for (const std::string& name : ReadDeleteList(path)) {
      if (!IsSafeRelativePath(name)) Problem("delete.ini: " + name + ": outside the client folder");
      for (const std::string& key : lastListNames_) {
        if (key == ClientKey(name)) Problem("delete.ini: " + name + ": delivered by the latest version");
      }
    }
  }

  const VerifyOptions& options_;
  VerifyReport& report_;
  std::map<std::string, KnownFile> known_;
  std::vector<std::string> lastListNames_;  // keys named by the latest non-empty list
};

}  // namespace

bool VerifyRepository(const VerifyOptions& options, VerifyReport* report,
                      const std::function<void(uint32_t version)>& progress) {
  *report = VerifyReport{};
  Verifier(options, *report).Run(progress);
  return report->problems.empty();
}

}  // namespace publish
