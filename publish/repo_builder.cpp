#include "publish/repo_builder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "download/crc32.h"
#include "engine/folders.h"
#include "engine/patch_list.h"
#include "platform/file_system.h"
#include "platform/ini_profile.h"
#include "publish/delta_encoder.h"
#include "publish/client_tree.h"
#include "publish/patch_list_writer.h"
#include "publish/repo_files.h"

namespace publish {

namespace {

// The text lists give the old CRC of a file that is new in the version:
// the CRC of no bytes, as for an empty file.
constexpr char kNoFileCrcText[] = "0x00000000";
constexpr size_t kMaxProblemsShown = 20;
constexpr size_t kMaxFilesPerSection = 0xFFFF;

// One file of the new tree and what the version does with it.
struct Item {
  const TreeFile* now = nullptr;
  const TreeFile* before = nullptr;  // null: new in the version
  bool changed = false;
  std::string newCrc;
  std::string oldCrc;
  std::string deltaPath;  // set when the D cabinet carries a delta
  bool inPlace = false;
  std::string error;
};

// Runs work(i) for i in [0, count) on `jobs` threads; the order of the
// results never depends on the scheduling.
template <typename Work>
void ParallelFor(size_t count, unsigned jobs, Work work) {
  std::atomic<size_t> next{0};
  auto run = [&] {
    for (size_t i = next++; i < count; i = next++) work(i);
  };
  const unsigned threads = static_cast<unsigned>(std::min<size_t>(std::max(1u, jobs), count));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(run);
  run();
  for (std::thread& thread : pool) thread.join();
}

// Progress shared by the worker threads, reported at most once per MiB.
class Progress {
 public:
  Progress(const std::function<void(const BuildProgress&)>& sink, const char* phase, uint64_t total)
      : sink_(sink), phase_(phase), total_(total) {
    Report(0, true);
  }
  ~Progress() { Report(0, true); }
  void Add(uint64_t bytes) { Report(bytes, false); }

 private:
  void Report(uint64_t bytes, bool force) {
    if (!sink_) return;
    std::lock_guard<std::mutex> lock(lock_);
    done_ += bytes;
    if (!force && done_ - reported_ < (1u << 20)) return;
    reported_ = done_;
    sink_(BuildProgress{phase_, std::min(done_, total_), total_});
  }

  const std::function<void(const BuildProgress&)>& sink_;
  const char* phase_;
  uint64_t total_;
  uint64_t done_ = 0;
  uint64_t reported_ = 0;
  std::mutex lock_;
};

// Reads both files once: their CRC texts, and whether the bytes differ.
bool CompareFiles(const TreeFile& before, const TreeFile& now, Item& item, Progress& progress) {
  CCrc32Dynamic crc;
  crc.BuildTable();
  plat::File a;
  plat::File b;
  if (!a.Open(before.path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    item.error = "cannot open " + before.path;
    return false;
  }
  if (!b.Open(now.path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    item.error = "cannot open " + now.path;
    return false;
  }
  std::vector<uint8_t> bufA(1 << 20);
  std::vector<uint8_t> bufB(1 << 20);
  uint32_t crcA = 0xFFFFFFFFu;
  uint32_t crcB = 0xFFFFFFFFu;
  uint64_t sizeA = 0;
  uint64_t sizeB = 0;
  bool differ = before.size != now.size;
  for (;;) {
    uint32_t gotA = 0;
    uint32_t gotB = 0;
    if (!a.Read(bufA.data(), static_cast<uint32_t>(bufA.size()), &gotA) ||
        !b.Read(bufB.data(), static_cast<uint32_t>(bufB.size()), &gotB)) {
      item.error = "cannot read " + now.path + " or " + before.path;
      return false;
    }
    if (gotA == 0 && gotB == 0) break;
    crcA = crc.Update(crcA, bufA.data(), gotA);
    crcB = crc.Update(crcB, bufB.data(), gotB);
    differ = differ || gotA != gotB || memcmp(bufA.data(), bufB.data(), gotA) != 0;
    sizeA += gotA;
    sizeB += gotB;
    progress.Add(gotB);
  }
  if (sizeA != before.size || sizeB != now.size) {
    item.error = "a file changed while it was read: " + now.name;
    return false;
  }
  item.changed = differ;
  item.oldCrc = CrcTextOf(~crcA);
  item.newCrc = CrcTextOf(~crcB);
  return true;
}

std::string ProblemList(const std::vector<std::string>& problems) {
  std::string text;
  for (size_t i = 0; i < problems.size() && i < kMaxProblemsShown; ++i) text += "\n  " + problems[i];
  if (problems.size() > kMaxProblemsShown) {
    text += "\n  ... and " + std::to_string(problems.size() - kMaxProblemsShown) + " more";
  }
  return text;
}

bool ValidServerUrl(const std::string& url) {
  const bool scheme = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
  return scheme && url.find_first_of(" \t\r\n") == std::string::npos && url.size() <= 511;
}

// The old tree must be what the repository's latest real version left:
// every file that version's list delivered, with the CRC it gave it.
bool CheckOldTree(const std::string& repo, uint32_t minimal, uint32_t previous, const std::vector<TreeFile>& old,
                  std::string* error) {
  std::map<std::string, const TreeFile*> byKey;
  for (const TreeFile& file : old) byKey[ClientKey(file.name)] = &file;
  for (uint32_t v = previous; v > minimal; --v) {
    PatchList list;
    ExpectedCrcMap expected;
    const std::string path = RepoPath(repo, std::to_string(v) + "\\version.list");
    if (ReadPatchListFile(path, v, list, expected) != 0) {
      *error = "the repository's " + path + " cannot be read";
      return false;
    }
    if (expected.empty()) continue;  // a version without changes
    std::vector<std::string> problems;
    for (const auto& [key, crc] : expected) {
      const auto found = byKey.find(key);
      const std::string actual = found == byKey.end() ? "" : GetFileCrcText(found->second->path);
      if (found == byKey.end()) {
        problems.push_back(key + ": missing");
      } else if (!CrcTextEquals(actual, crc)) {
        problems.push_back(found->second->name + ": CRC " + actual + ", version " + std::to_string(v) +
                           " gave it " + crc);
      }
    }
    if (problems.empty()) return true;
    *error = "the old tree is not the repository's version " + std::to_string(previous) + ":" + ProblemList(problems);
    return false;
  }
  return true;
}

}  // namespace

BuildResult BuildVersion(const BuildOptions& options, BuildSummary* summary, std::string* error,
                         const std::function<void(const BuildProgress&)>& progress) {
  BuildSummary local;
  BuildSummary& out = summary ? *summary : local;
  out = BuildSummary{};
  auto refuse = [&](const std::string& text) {
    *error = text;
    return kBuildRefused;
  };
  auto fail = [&](const std::string& text) {
    *error = text;
    return kBuildFailed;
  };
  const uint32_t version = options.version;
  if (version == 0) return refuse("the version must be 1 or more");
  if (options.repo.empty()) return refuse("no repository folder given");
  if (options.sectionBytes == 0) return refuse("the section size must be above 0");
  out.version = version;

  // ------------------------------------------------ where the version goes
  const std::string manifestPath = RepoPath(options.repo, "version.ini");
  const bool existing = plat::FileExists(manifestPath);
  out.newRepository = !existing;
  uint32_t minimal = 0;
  uint32_t previous = 0;
  std::string manifestText;
  if (existing) {
    if (!ReadWholeFile(manifestPath, &manifestText)) return fail("cannot read " + manifestPath);
    const uint32_t latest = plat::ReadProfileInt(kVersionSection, "LatestVersion", 0, manifestPath);
    minimal = plat::ReadProfileInt(kVersionSection, "MinimalVersion", 0, manifestPath);
    if (!options.servers.empty()) {
      return refuse("the repository exists: its server list is kept (edit " + manifestPath + " to change it)");
    }
    if (version < latest || version <= minimal) {
      return refuse("version " + std::to_string(version) + " is not above the repository's versions (latest " +
                    std::to_string(latest) + ", minimal " + std::to_string(minimal) + ")");
    }
    out.rebuilt = version == latest;
    previous = out.rebuilt ? version - 1 : latest;
    if (options.baseVersionGiven && options.baseVersion != previous &&
        !(out.rebuilt && options.baseVersion == minimal)) {
      return refuse("--base-version " + std::to_string(options.baseVersion) +
                    " does not match the repository, whose version before " + std::to_string(version) + " is " +
                    std::to_string(previous));
    }
  } else {
    previous = options.baseVersionGiven ? options.baseVersion : version - 1;
    if (previous >= version) return refuse("the base version must be below the version");
    minimal = previous;
    if (options.servers.size() > 3) return refuse("at most three servers");
    for (const ManifestServer& server : options.servers) {
      if (!ValidServerUrl(server.url)) return refuse("not an http:// or https:// base URL: " + server.url);
    }
  }
  out.previous = previous;

  // ------------------------------------------------ the two trees
  const TreeScan before = ScanTree(options.fromTree);
  const TreeScan now = ScanTree(options.toTree);
  std::vector<std::string> problems;
  for (const std::string& p : before.problems) problems.push_back("old tree: " + p);
  for (const std::string& p : now.problems) problems.push_back("new tree: " + p);
  if (!problems.empty()) return refuse("names the patcher cannot take:" + ProblemList(problems));
  for (const std::string& name : now.skipped) out.notes.push_back("left out the engine's own " + name);
  if (existing) {
    std::string why;
    if (!CheckOldTree(options.repo, minimal, previous, before.files, &why)) return refuse(why);
  }

  std::map<std::string, const TreeFile*> oldByKey;
  for (const TreeFile& file : before.files) oldByKey[ClientKey(file.name)] = &file;
  std::set<std::string> newKeys;
  std::vector<Item> items(now.files.size());
  uint64_t compareTotal = 0;
  for (size_t i = 0; i < now.files.size(); ++i) {
    items[i].now = &now.files[i];
    const auto old = oldByKey.find(ClientKey(now.files[i].name));
    if (old != oldByKey.end()) items[i].before = old->second;
    newKeys.insert(ClientKey(now.files[i].name));
    compareTotal += now.files[i].size;
    out.clientBytes += now.files[i].size;
  }
  {
    Progress comparing(progress, "comparing", compareTotal);
    ParallelFor(items.size(), options.jobs, [&](size_t i) {
      Item& item = items[i];
      if (item.before) {
        CompareFiles(*item.before, *item.now, item, comparing);
        return;
      }
      item.changed = true;
      item.oldCrc = kNoFileCrcText;
      CCrc32Dynamic crc;
      crc.BuildTable();
      uint32_t value = 0;
      if (crc.ComputeFileCrc(item.now->path, value) != 0 || GetFileSize64(item.now->path) != item.now->size) {
        item.error = "cannot read " + item.now->path;
      }
      item.newCrc = CrcTextOf(value);
      comparing.Add(item.now->size);
    });
  }
  for (const Item& item : items) {
    if (!item.error.empty()) return fail(item.error);
  }

  // Deletions: what the repository already deletes plus what this version
  // drops, without anything the new client has (letter case aside).
  std::map<std::string, std::string> deleteByKey;
  for (const std::string& name : ReadDeleteList(RepoPath(options.repo, "delete.ini"))) {
    deleteByKey.emplace(ClientKey(name), name);
  }
  for (const TreeFile& file : before.files) {
    if (!newKeys.count(ClientKey(file.name))) {
      deleteByKey[ClientKey(file.name)] = file.name;
      ++out.deleted;
    }
  }
  std::vector<std::string> deletions;
  for (const auto& [key, name] : deleteByKey) {
    if (!newKeys.count(key)) deletions.push_back(name);
  }

  // ------------------------------------------------ staging
  const std::string versionName = std::to_string(version);
  const std::string staging = RepoPath(options.repo, ".build-" + versionName);
  if (plat::DirectoryExists(staging) && !DeleteFolder(staging)) return fail("cannot remove " + staging);
  const std::string stagedVersion = staging + "\\" + versionName;
  const std::string deltaFolder = staging + "\\deltas";
  if (!RecCreateDirectory(stagedVersion) || !RecCreateDirectory(deltaFolder)) return fail("cannot create " + staging);
  auto failAndClean = [&](const std::string& text) {
    DeleteFolder(staging);
    return fail(text);
  };

  // Deltas for changed files that exist on both sides with bytes in them:
  // a delta from or to an empty file could not be checked by the patcher
  // before or after it is applied, so such files travel whole.
  std::vector<size_t> changed;
  uint64_t deltaTotal = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].changed) continue;
    changed.push_back(i);
    out.changedBytes += items[i].now->size;
    if (items[i].before) {
      ++out.changed;
    } else {
      ++out.added;
    }
    if (options.encoder && items[i].before && items[i].before->size > 0 && items[i].now->size > 0) {
      deltaTotal += items[i].now->size;
    }
  }
  if (options.encoder) {
    Progress encoding(progress, "encoding deltas", deltaTotal);
    std::vector<std::string> encoderNotes(changed.size());
    ParallelFor(changed.size(), options.jobs, [&](size_t n) {
      Item& item = items[changed[n]];
      if (!item.before || item.before->size == 0 || item.now->size == 0) return;
      const std::string deltaPath = deltaFolder + "\\" + std::to_string(n);
      const DeltaOutcome outcome = options.encoder(item.before->path, item.now->path, deltaPath);
      uint64_t deltaSize = 0;
      if (outcome.kind == DeltaOutcome::kWritten && plat::FileSize(deltaPath, &deltaSize) &&
          DeltaPays(deltaSize, item.now->size)) {
        item.deltaPath = deltaPath;
        item.inPlace = outcome.inPlace;
      } else if (outcome.kind == DeltaOutcome::kFailed) {
        encoderNotes[n] = "no delta for " + item.now->name + " (" + outcome.error + "): shipped whole";
      }
      encoding.Add(item.now->size);
    });
    for (const std::string& note : encoderNotes) {
      if (!note.empty()) out.notes.push_back(note);
    }
  }

  // Sections: consecutive files in name order, cut before the file that
  // would take a section's whole files past the section size.
  std::vector<std::vector<size_t>> sections;
  uint64_t sectionFill = 0;
  for (size_t i : changed) {
    const uint64_t size = items[i].now->size;
    if (sections.empty() || sections.back().size() >= kMaxFilesPerSection ||
        (!sections.back().empty() && sectionFill + size > options.sectionBytes)) {
      sections.emplace_back();
      sectionFill = 0;
    }
    sections.back().push_back(i);
    sectionFill += size;
  }
  out.sections = sections.size();

  // Cabinets: two per section, written in parallel.
  struct CabJob {
    size_t section;
    bool diff;
    std::string path;
    std::string crc;
    uint64_t size = 0;
    std::string error;
  };
  std::vector<CabJob> cabs;
  uint64_t cabTotal = 0;
  for (size_t s = 0; s < sections.size(); ++s) {
    for (bool diff : {true, false}) {
      const std::string name = std::to_string(s + 1) + (diff ? "D.cab" : "N.cab");
      cabs.push_back(CabJob{s, diff, stagedVersion + "\\" + name, "", 0, ""});
    }
    for (size_t i : sections[s]) cabTotal += 2 * items[i].now->size;
  }
  {
    Progress writing(progress, "writing cabinets", cabTotal);
    ParallelFor(cabs.size(), options.jobs, [&](size_t c) {
      CabJob& job = cabs[c];
      CabWriter writer(options.compression, options.level);
      for (size_t i : sections[job.section]) {
        const Item& item = items[i];
        writer.AddFile(item.now->name, job.diff && !item.deltaPath.empty() ? item.deltaPath : item.now->path);
      }
      uint64_t fed = 0;
      writer.SetProgress([&](uint64_t bytes) {
        fed += bytes;
        writing.Add(bytes);
      });
      if (!writer.WriteTo(job.path, &job.error)) return;
      job.crc = GetFileCrcText(job.path);
      plat::FileSize(job.path, &job.size);
      // A delta is smaller than its file; count what it did not need.
      uint64_t whole = 0;
      for (size_t i : sections[job.section]) whole += items[i].now->size;
      if (whole > fed) writing.Add(whole - fed);
    });
  }
  PatchListData list;
  list.patchVersion = version;
  list.sections.resize(sections.size());
  for (const CabJob& job : cabs) {
    if (!job.error.empty()) return failAndClean(job.error);
    (job.diff ? list.sections[job.section].diffCabCrc : list.sections[job.section].normalCabCrc) = job.crc;
    (job.diff ? out.diffCabBytes : out.normalCabBytes) += job.size;
  }
  for (size_t s = 0; s < sections.size(); ++s) {
    for (size_t i : sections[s]) {
      const Item& item = items[i];
      PatchListRecord record;
      record.name = item.now->name;
      record.oldCrc = item.oldCrc;
      record.newCrc = item.newCrc;
      record.type = item.deltaPath.empty() ? 2 : 1;
      record.orgSize = item.before ? item.before->size : 0;
      record.newSize = item.now->size;
      list.sections[s].records.push_back(record);
      if (!item.deltaPath.empty()) {
        ++out.deltas;
        if (item.inPlace) ++out.inPlaceDeltas;
      }
    }
  }
  std::string listError;
  const std::vector<uint8_t> listBytes = WritePatchList(list, &listError);
  if (listBytes.empty()) return failAndClean(listError);
  if (!ReplaceFile(stagedVersion + "\\version.list", std::string(listBytes.begin(), listBytes.end()))) {
    return failAndClean("cannot write the patch list");
  }
  // Versions between the old tree's and this one change nothing.
  std::vector<uint32_t> gaps;
  for (uint32_t v = previous + 1; v < version; ++v) {
    if (plat::FileExists(RepoPath(options.repo, std::to_string(v) + "\\version.list"))) continue;
    PatchListData empty;
    empty.patchVersion = v;
    const std::vector<uint8_t> bytes = WritePatchList(empty);
    const std::string folder = staging + "\\" + std::to_string(v);
    if (!RecCreateDirectory(folder) || !ReplaceFile(folder + "\\version.list", std::string(bytes.begin(), bytes.end()))) {
      return failAndClean("cannot write the list of version " + std::to_string(v));
    }
    gaps.push_back(v);
  }
  if (!DeleteFolder(deltaFolder)) return failAndClean("cannot remove " + deltaFolder);

  // ------------------------------------------------ into place
  // Version folders first, then the deletion list, and the manifest last:
  // it is what makes clients ask for the new version.
  gaps.push_back(version);
  for (uint32_t v : gaps) {
    const std::string name = std::to_string(v);
    const std::string target = RepoPath(options.repo, name);
    const std::string retired = RepoPath(options.repo, ".old-" + name);
    if (plat::DirectoryExists(retired)) DeleteFolder(retired);
    if (plat::DirectoryExists(target) && !plat::MoveNoReplace(target, retired)) {
      return failAndClean("cannot move the old " + target + " aside");
    }
    if (!plat::MoveNoReplace(staging + "\\" + name, target)) return failAndClean("cannot move " + target + " into place");
    if (plat::DirectoryExists(retired)) DeleteFolder(retired);
  }
  if (!ReplaceFile(RepoPath(options.repo, "delete.ini"), DeleteListText(deletions))) {
    return failAndClean("cannot write delete.ini");
  }
  if (existing) {
    manifestText = SetIniValue(manifestText, kVersionSection, "LatestVersion", std::to_string(version));
  } else {
    ManifestContent content;
    content.latest = version;
    content.minimal = minimal;
    content.ownVersion = options.ownVersion;
    content.servers = options.servers;
    if (content.servers.empty()) content.servers.push_back(ManifestServer{kDefaultServer, 1});
    for (ManifestServer& server : content.servers) {
      while (!server.url.empty() && server.url.back() == '/') server.url.pop_back();
    }
    manifestText = NewManifestText(content);
  }
  if (!ReplaceFile(manifestPath, manifestText)) return failAndClean("cannot write " + manifestPath);
  DeleteFolder(staging);
  return kBuildOk;
}

}  // namespace publish
