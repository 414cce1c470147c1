#include "tests/support/patch_repo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "download/crc32.h"
#include "publish/cab_writer.h"
#include "publish/delta_encoder.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void PutU32(Bytes& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

bool WriteBytes(const fs::path& path, const Bytes& bytes, std::string* error) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    if (error) *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

fs::path RelativeServerPath(const std::string& folder, const std::string& relative) {
  fs::path path(folder);
  std::string part;
  std::istringstream parts(relative);
  while (std::getline(parts, part, '/')) {
    if (!part.empty()) path /= part;
  }
  return path;
}

bool IsIgnored(const std::string& name, const std::vector<std::string>& ignored) {
  const std::string lower = Lower(name);
  for (const std::string& entry : ignored) {
    const std::string key = Lower(entry);
    const bool isFolder = !key.empty() && key.back() == '\\';
    if (isFolder ? lower.compare(0, key.size(), key) == 0 : lower == key) return true;
  }
  return false;
}

std::string Describe(const Bytes& data) { return "size " + std::to_string(data.size()) + ", " + CrcText(data); }

}  // namespace

std::string CrcText(const Bytes& data) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", Crc32OfBuffer(data.data(), data.size()));
  return text;
}

bool IsProtectedName(const std::string& name) {
  const std::string lower = Lower(name);
  return lower.find("version.ini") != std::string::npos || lower.find("version.dat") != std::string::npos;
}

// ------------------------------------------------------------ builder

PatchRepoBuilder::PatchRepoBuilder(uint32_t initialVersion, FileTree initialTree)
    : initialVersion_(initialVersion), initialTree_(std::move(initialTree)) {}

VersionSpec& PatchRepoBuilder::AddVersion(uint32_t version, FileTree tree, std::vector<SectionSpec> sections) {
  VersionSpec spec;
  spec.version = version;
  spec.tree = std::move(tree);
  spec.sections = std::move(sections);
  versions_.push_back(std::move(spec));
  return versions_.back();
}

uint32_t PatchRepoBuilder::LatestVersion() const {
  if (latest_) return *latest_;
  return versions_.empty() ? initialVersion_ : versions_.back().version;
}

const FileTree* PatchRepoBuilder::TreeAt(uint32_t version) const {
  if (version == initialVersion_) return &initialTree_;
  for (const VersionSpec& spec : versions_) {
    if (spec.version == version) return &spec.tree;
  }
  return nullptr;
}

const FileTree& PatchRepoBuilder::ExpectedTree() const {
  return versions_.empty() ? initialTree_ : versions_.back().tree;
}

const BuiltVersion* PatchRepoBuilder::FindBuilt(uint32_t version) const {
  for (const BuiltVersion& built : built_) {
    if (built.version == version) return &built;
  }
  return nullptr;
}

bool PatchRepoBuilder::Fail(const std::string& text) {
  error_ = text;
  return false;
}

std::string PatchRepoBuilder::ManifestText() const {
  std::string text = "; patch repository of a test\r\n[VERSION]\r\n";
  text += "LatestVersion=" + std::to_string(LatestVersion()) + "\r\n";
  text += "MinimalVersion=" + std::to_string(minimal_.value_or(initialVersion_)) + "\r\n";
  text += "OwnVersion=" + std::to_string(ownVersion_) + "\r\n";
  text += "[DOWNLOAD]\r\n";
  for (size_t i = 0; i < servers_.size(); ++i) text += "server" + std::to_string(i + 1) + "=" + servers_[i] + "\r\n";
  if (!podWeights_.empty()) {
    text += "[DOWNLOAD_POD]\r\n";
    for (size_t i = 0; i < podWeights_.size(); ++i) {
      text += "POD" + std::to_string(i + 1) + "=" + podWeights_[i] + "\r\n";
    }
  }
  return text;
}

bool PatchRepoBuilder::Validate() {
  auto checkTree = [&](const FileTree& tree, uint32_t version) {
    for (const auto& [name, data] : tree) {
      if (name.empty() || name.find('/') != std::string::npos || name.front() == '\\' || name.back() == '\\') {
        return Fail("version " + std::to_string(version) + ": bad name \"" + name + "\" (use '\\\\' separators)");
      }
      const std::string lower = Lower(name);
      if (lower == "version.dat" || lower == "version.ini") {
        return Fail("version " + std::to_string(version) + ": the tree must not hold the engine's own " + name);
      }
    }
    return true;
  };
  if (!checkTree(initialTree_, initialVersion_)) return false;

  std::set<std::string> deleted;
  if (deleteList_) deleted.insert(deleteList_->begin(), deleteList_->end());
  const FileTree* before = &initialTree_;
  uint32_t previous = initialVersion_;
  for (const VersionSpec& spec : versions_) {
    const std::string where = "version " + std::to_string(spec.version) + ": ";
    if (spec.version <= previous) return Fail(where + "versions must rise");
    if (!checkTree(spec.tree, spec.version)) return false;
    std::map<std::string, int> shipped;
    for (const SectionSpec& section : spec.sections) {
      for (const std::string& name : section.files) {
        if (!spec.tree.count(name)) return Fail(where + "a section ships \"" + name + "\", which the tree lacks");
        if (IsProtectedName(name)) return Fail(where + "\"" + name + "\" is protected: ship it as an extra record");
        if (++shipped[name] > 1) return Fail(where + "\"" + name + "\" is shipped twice");
      }
      for (const std::string& name : section.wholeInDiff) {
        if (std::find(section.files.begin(), section.files.end(), name) == section.files.end()) {
          return Fail(where + "\"" + name + "\" is marked whole but not shipped by its section");
        }
      }
      for (const auto& [name, delta] : section.deltas) {
        if (std::find(section.files.begin(), section.files.end(), name) == section.files.end() ||
            !before->count(name) || section.wholeInDiff.count(name)) {
          return Fail(where + "a delta is given for \"" + name + "\", which the section ships without one");
        }
      }
    }
    for (const auto& [name, data] : spec.tree) {
      const auto old = before->find(name);
      const bool changed = old == before->end() || old->second != data;
      if (changed && IsProtectedName(name)) {
        return Fail(where + "protected \"" + name + "\" changes, but the engine never patches it");
      }
      if (changed && !shipped.count(name)) return Fail(where + "\"" + name + "\" changes but no section ships it");
    }
    for (const auto& [name, data] : *before) {
      if (!spec.tree.count(name) && !deleted.count(name)) {
        return Fail(where + "\"" + name + "\" disappears but the deletion list does not name it");
      }
    }
    before = &spec.tree;
    previous = spec.version;
  }
  for (const std::string& name : deleted) {
    if (ExpectedTree().count(name)) return Fail("\"" + name + "\" is on the deletion list but in the final tree");
  }
  return true;
}

bool PatchRepoBuilder::BuildSection(const FileTree& before, const FileTree& after, const SectionSpec& spec,
                                    size_t& leadIndex, BuiltSection& out) {
  struct Item {
    PatchListRecord record;
    std::optional<Bytes> diffEntry;
    std::optional<Bytes> normalEntry;
  };
  std::vector<Item> items;
  for (const std::string& name : spec.files) {
    const Bytes& now = after.at(name);
    const auto old = before.find(name);
    Item item;
    item.record.name = name;
    item.record.newCrc = CrcText(now);
    item.record.newSize = now.size();
    item.record.oldCrc = old == before.end() ? kNoFileCrcText : CrcText(old->second);
    item.record.orgSize = old == before.end() ? 0 : old->second.size();
    if (old != before.end() && !spec.wholeInDiff.count(name)) {
      item.record.type = 1;
      const auto given = spec.deltas.find(name);
      if (given != spec.deltas.end()) {
        item.diffEntry = given->second;
      } else {
        Bytes delta;
        if (CDeltaEncoder().EncodeBytes(old->second, now, &delta).status != DeltaEncodeStatus::kOk) {
          return Fail("cannot encode the delta of " + name);
        }
        item.diffEntry = std::move(delta);
      }
    } else {
      item.record.type = 2;
      item.diffEntry = now;
    }
    item.normalEntry = now;
    items.push_back(std::move(item));
  }
  for (const ExtraRecord& extra : spec.extras) {
    const auto old = before.find(extra.name);
    Item item;
    item.record.name = extra.name;
    item.record.type = extra.type;
    item.record.newCrc = extra.newCrc.value_or(CrcText(extra.content));
    item.record.newSize = extra.newSize.value_or(extra.content.size());
    item.record.oldCrc = extra.oldCrc.value_or(old == before.end() ? kNoFileCrcText : CrcText(old->second));
    item.record.orgSize = extra.orgSize.value_or(old == before.end() ? 0 : old->second.size());
    if (extra.inDiffCab) item.diffEntry = extra.content;
    if (extra.inNormalCab) item.normalEntry = extra.content;
    items.insert(items.begin() + static_cast<ptrdiff_t>(std::min(extra.position, items.size())), std::move(item));
  }

  publish::CabWriter diff;
  publish::CabWriter normal;
  for (Item& item : items) {
    // Readers drop the lead unread; alternating it catches one that keeps it.
    item.record.lead = (leadIndex++ % 2 == 0) ? '\\' : '*';
    if (item.diffEntry) {
      out.diffEntries.emplace_back(item.record.name, *item.diffEntry);
      diff.Add(item.record.name, *item.diffEntry);
    }
    if (item.normalEntry) {
      out.normalEntries.emplace_back(item.record.name, *item.normalEntry);
      normal.Add(item.record.name, *item.normalEntry);
    }
    out.records.push_back(item.record);
  }
  std::string cabError;
  out.diffCab = diff.Build(&cabError);
  if (out.diffCab.empty()) return Fail("D cabinet: " + cabError);
  out.normalCab = normal.Build(&cabError);
  if (out.normalCab.empty()) return Fail("N cabinet: " + cabError);
  if (spec.alterDiffCab) spec.alterDiffCab(out.diffCab);
  if (spec.alterNormalCab) spec.alterNormalCab(out.normalCab);
  out.diffCabCrc = CrcText(out.diffCab);
  out.normalCabCrc = CrcText(out.normalCab);
  return true;
}

bool PatchRepoBuilder::WriteServer(const std::string& folder) {
  error_.clear();
  built_.clear();
  if (!Validate()) return false;
  serverFolder_ = folder;
  std::error_code ec;
  fs::create_directories(fs::path(folder), ec);
  if (!WriteBytes(RelativeServerPath(folder, "version.ini"), TextBytes(ManifestText()), &error_)) return false;
  if (deleteList_) {
    std::string text = "[DELETE]\r\n";
    for (size_t i = 0; i < deleteList_->size(); ++i) {
      text += "File" + std::to_string(i + 1) + "=" + (*deleteList_)[i] + "\r\n";
    }
    if (!WriteBytes(RelativeServerPath(folder, "delete.ini"), TextBytes(text), &error_)) return false;
  }

  const FileTree* before = &initialTree_;
  for (const VersionSpec& spec : versions_) {
    const std::string where = "version " + std::to_string(spec.version) + ": ";
    const std::string versionFolder = std::to_string(spec.version) + "/";
    BuiltVersion built;
    built.version = spec.version;
    PatchListData list;
    list.patchVersion = spec.version;
    size_t leadIndex = 0;
    for (size_t s = 0; s < spec.sections.size(); ++s) {
      BuiltSection section;
      if (!BuildSection(*before, spec.tree, spec.sections[s], leadIndex, section)) {
        return Fail(where + "section " + std::to_string(s + 1) + ": " + error_);
      }
      const std::string stem = versionFolder + std::to_string(s + 1);
      if (spec.sections[s].writeDiffCab &&
          !WriteBytes(RelativeServerPath(folder, stem + "D.cab"), section.diffCab, &error_)) {
        return false;
      }
      if (spec.sections[s].writeNormalCab &&
          !WriteBytes(RelativeServerPath(folder, stem + "N.cab"), section.normalCab, &error_)) {
        return false;
      }
      list.sections.push_back(PatchListSection{section.diffCabCrc, section.normalCabCrc, section.records});
      built.sections.push_back(std::move(section));
    }
    std::string listError;
    built.list = WritePatchList(list, &listError);
    if (built.list.empty()) return Fail(where + listError);
    fs::create_directories(RelativeServerPath(folder, versionFolder), ec);
    if (spec.writeList &&
        !WriteBytes(RelativeServerPath(folder, versionFolder + "version.list"), built.list, &error_)) {
      return false;
    }
    built_.push_back(std::move(built));
    before = &spec.tree;
  }
  return true;
}

bool PatchRepoBuilder::WriteClient(const std::string& folder) {
  error_.clear();
  std::error_code ec;
  fs::create_directories(fs::path(folder), ec);
  if (!WriteTree(folder, initialTree_, &error_)) return false;
  Bytes version;
  PutU32(version, initialVersion_);
  return WriteBytes(fs::path(ClientPath(folder, "version.dat")), version, &error_);
}

std::string PatchRepoBuilder::ServerPath(const std::string& relative) const {
  return RelativeServerPath(serverFolder_, relative).string();
}

bool PatchRepoBuilder::OverwriteServerFile(const std::string& relative, const Bytes& bytes) {
  if (serverFolder_.empty()) return Fail("no server tree written yet");
  return WriteBytes(RelativeServerPath(serverFolder_, relative), bytes, &error_);
}

bool PatchRepoBuilder::CorruptServerFile(const std::string& relative, std::optional<size_t> offset) {
  if (serverFolder_.empty()) return Fail("no server tree written yet");
  Bytes bytes = ReadBytes(RelativeServerPath(serverFolder_, relative));
  const size_t at = offset.value_or(bytes.size() / 2);
  if (at >= bytes.size()) return Fail("cannot corrupt byte " + std::to_string(at) + " of " + relative);
  bytes[at] ^= 0xFF;
  return OverwriteServerFile(relative, bytes);
}

bool PatchRepoBuilder::RemoveServerFile(const std::string& relative) {
  if (serverFolder_.empty()) return Fail("no server tree written yet");
  std::error_code ec;
  if (!fs::remove(RelativeServerPath(serverFolder_, relative), ec)) return Fail("cannot remove " + relative);
  return true;
}

// ------------------------------------------------------------ client folders

std::string ClientPath(const std::string& folder, const std::string& name) {
  fs::path path(folder);
  std::string part;
  std::istringstream parts(name);
  while (std::getline(parts, part, '\\')) {
    if (!part.empty()) path /= part;
  }
  return path.string();
}

bool WriteTree(const std::string& folder, const FileTree& tree, std::string* error) {
  for (const auto& [name, data] : tree) {
    if (!WriteBytes(fs::path(ClientPath(folder, name)), data, error)) return false;
  }
  return true;
}

FileTree ReadTree(const std::string& folder) {
  FileTree tree;
  const fs::path root(folder);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string name;
    for (const fs::path& part : fs::relative(it->path(), root)) {
      if (!name.empty()) name += '\\';
      name += part.string();
    }
    tree[name] = ReadBytes(it->path());
  }
  return tree;
}

const std::vector<std::string>& DefaultIgnoredNames() {
  static const std::vector<std::string> names = {"version.ini", "version.dat", "backup\\", "Log\\"};
  return names;
}

std::string CompareClientTree(const std::string& folder, const FileTree& expected,
                              const std::vector<std::string>& ignored) {
  FileTree actual;
  for (auto& [name, data] : ReadTree(folder)) {
    if (!IsIgnored(name, ignored)) actual.emplace(name, std::move(data));
  }
  std::map<std::string, std::string> lines;  // by name, so the text comes out in name order
  for (const auto& [name, data] : expected) {
    if (IsIgnored(name, ignored)) continue;
    const auto found = actual.find(name);
    if (found == actual.end()) {
      lines[name] = "missing: " + name + " (" + Describe(data) + ")";
    } else if (found->second != data) {
      lines[name] = "differs: " + name + " (" + Describe(found->second) + " instead of " + Describe(data) + ")";
    }
  }
  for (const auto& [name, data] : actual) {
    if (!expected.count(name)) lines[name] = "unexpected: " + name + " (" + Describe(data) + ")";
  }
  std::string text;
  for (const auto& [name, line] : lines) text += line + "\n";
  return text;
}

int64_t ReadClientVersion(const std::string& folder) {
  const Bytes bytes = ReadBytes(fs::path(ClientPath(folder, "version.dat")));
  if (bytes.size() < 4) return -1;
  return static_cast<int64_t>(static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                              (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24));
}

}  // namespace testsupport
