// Complete patch-server repositories for end-to-end tests, built from the
// client's file trees per version: the manifest "version.ini", per version
// "<V>/version.list" and the section cabinets "<V>/<S>D.cab" (deltas, or
// whole files for new and forced files) and "<V>/<S>N.cab" (whole files),
// an optional "delete.ini", and the initial client folder with its
// "version.dat". The builder also knows the client every correct patch run
// must end with, and compares a client folder with it.
//
// Names in trees, sections and lists are client-relative paths with '\\'
// separators, exactly as the lists and cabinets store them.
//
// Typical use (two versions of two sections each):
//   PatchRepoBuilder repo(100, initialTree);
//   repo.AddVersion(101, tree101, {SectionSpec{{"a.dat", "b.dat"}}, SectionSpec{{"c.dat"}}});
//   repo.AddVersion(102, tree102, {SectionSpec{{"a.dat"}}, SectionSpec{{"new\\d.dat"}}});
//   repo.SetServers({nginx.Url("/a"), nginx.Url("/b")});
//   ASSERT_TRUE(repo.WriteServer(serverFolder)) << repo.Error();
//   ASSERT_TRUE(repo.WriteClient(clientFolder)) << repo.Error();
//   ... run the patcher ...
//   EXPECT_EQ("", CompareClientTree(clientFolder, repo.ExpectedTree()));
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "publish/patch_list_writer.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
// Client-relative name -> contents.
using FileTree = std::map<std::string, Bytes>;

// "0x%08x" of the bytes' CRC-32, the engine's CRC text.
std::string CrcText(const Bytes& data);
// The CRC text of no bytes, which lists give files that are new.
constexpr const char kNoFileCrcText[] = "0x00000000";

// True for the names the engine never patches from a list: "version.ini"
// or "version.dat" anywhere in the name, in any letter case.
bool IsProtectedName(const std::string& name);

// ------------------------------------------------------------ patch list

using publish::PatchListData;
using publish::PatchListRecord;
using publish::PatchListSection;
using publish::WritePatchList;

// ------------------------------------------------------------ builder

// A record a section ships besides the files of the version's tree, such
// as a protected "data\\Version.INI": its bytes go into the cabinets and
// its record into the list, but it never changes the expected client.
struct ExtraRecord {
  std::string name;
  Bytes content;                     // what the cabinets carry under the name
  size_t position = SIZE_MAX;        // index among the section's records; beyond the end: appended
  uint8_t type = 2;
  bool inDiffCab = true;
  bool inNormalCab = true;
  // Record fields left unset come from `content` (new CRC and size) and
  // from the file of the same name in the previous version's tree (old
  // CRC and size; "0x00000000" and 0 when there is none).
  std::optional<std::string> oldCrc;
  std::optional<std::string> newCrc;
  std::optional<uint64_t> orgSize;
  std::optional<uint64_t> newSize;
};

struct SectionSpec {
  // Files of the version's tree that the section ships, in cabinet and
  // list order. Every file that is new or changed in the version must be
  // in exactly one section; an unchanged file may be shipped too.
  std::vector<std::string> files;
  // Shipped whole (type 2) in the D cabinet although the previous version
  // has them.
  std::set<std::string> wholeInDiff;
  // Deltas shipped instead of the encoded ones (files of type 1).
  std::map<std::string, Bytes> deltas;
  std::vector<ExtraRecord> extras;
  // False: the list names the cabinet (with the CRC text it would have)
  // but the server does not have it.
  bool writeDiffCab = true;
  bool writeNormalCab = true;
  // Run on the finished cabinet before its CRC text is taken, so the list
  // agrees with the altered cabinet (a broken cabinet that passes the CRC
  // check). To make the CRC check fail instead, change the file after
  // WriteServer (CorruptServerFile).
  std::function<void(Bytes&)> alterDiffCab;
  std::function<void(Bytes&)> alterNormalCab;
};

struct VersionSpec {
  uint32_t version = 0;
  FileTree tree;                      // the whole client after this version
  std::vector<SectionSpec> sections;  // may be empty: a list of zero sections
  bool writeList = true;              // false: no version.list on the server
};

// What WriteServer produced for one section.
struct BuiltSection {
  std::vector<PatchListRecord> records;                    // in list order
  std::vector<std::pair<std::string, Bytes>> diffEntries;  // stored name, bytes (delta or whole), in order
  std::vector<std::pair<std::string, Bytes>> normalEntries;
  Bytes diffCab;    // as written (after alterDiffCab)
  Bytes normalCab;
  std::string diffCabCrc;
  std::string normalCabCrc;
};

struct BuiltVersion {
  uint32_t version = 0;
  Bytes list;  // the version.list bytes
  std::vector<BuiltSection> sections;
};

class PatchRepoBuilder {
 public:
  // The initial client: what WriteClient writes, with `initialVersion` in
  // its version.dat.
  PatchRepoBuilder(uint32_t initialVersion, FileTree initialTree);

  // Adds the version after the last one added (numbers must rise). The
  // reference stays valid until the next AddVersion.
  VersionSpec& AddVersion(uint32_t version, FileTree tree, std::vector<SectionSpec> sections = {});

  // Manifest. Servers are base URLs without a trailing '/'
  // ("http://127.0.0.1:8080/a"); weights, when given, go into
  // [DOWNLOAD_POD] as POD1, POD2, ... Unset versions default to the
  // initial version (minimal), the last added version (latest) and 28
  // (the launcher's own patcher version).
  void SetServers(std::vector<std::string> baseUrls) { servers_ = std::move(baseUrls); }
  void SetPodWeights(std::vector<std::string> weights) { podWeights_ = std::move(weights); }
  void SetMinimalVersion(uint32_t version) { minimal_ = version; }
  void SetLatestVersion(uint32_t version) { latest_ = version; }
  void SetOwnVersion(uint32_t version) { ownVersion_ = version; }
  // Writes "delete.ini" with these names (File1, File2, ...). Files that
  // disappear from the trees between versions must be named here; the
  // expected client does not have them.
  void SetDeleteList(std::vector<std::string> names) { deleteList_ = std::move(names); }

  // Writes the server tree into `folder` (created when missing; files
  // already there stay unless rewritten). False, with Error() saying why,
  // when the input is inconsistent (checked before anything is written) or
  // a file cannot be written.
  bool WriteServer(const std::string& folder);
  // Writes the initial client into `folder` (created when missing) with
  // its 4-byte little-endian version.dat.
  bool WriteClient(const std::string& folder);
  const std::string& Error() const { return error_; }

  std::string ManifestText() const;
  // Per version, after WriteServer.
  const std::vector<BuiltVersion>& Built() const { return built_; }
  const BuiltVersion* FindBuilt(uint32_t version) const;

  // Changes to the server tree after WriteServer; `relative` uses '/'
  // ("101/1D.cab"). CorruptServerFile flips the bits of one byte (the
  // middle byte when no offset is given).
  bool OverwriteServerFile(const std::string& relative, const Bytes& bytes);
  bool CorruptServerFile(const std::string& relative, std::optional<size_t> offset = std::nullopt);
  bool RemoveServerFile(const std::string& relative);
  std::string ServerPath(const std::string& relative) const;

  uint32_t InitialVersion() const { return initialVersion_; }
  uint32_t LatestVersion() const;
  const FileTree& InitialTree() const { return initialTree_; }
  // The client after `version` (the initial tree for the initial version).
  const FileTree* TreeAt(uint32_t version) const;
  // The client after a complete run: the last version's tree (the initial
  // tree when no version was added).
  const FileTree& ExpectedTree() const;

 private:
  bool Fail(const std::string& text);
  bool Validate();
  bool BuildSection(const FileTree& before, const FileTree& after, const SectionSpec& spec, size_t& leadIndex,
                    BuiltSection& out);

  uint32_t initialVersion_;
  FileTree initialTree_;
  std::vector<VersionSpec> versions_;
  std::vector<std::string> servers_;
  std::vector<std::string> podWeights_;
  std::optional<uint32_t> minimal_;
  std::optional<uint32_t> latest_;
  uint32_t ownVersion_ = 28;
  std::optional<std::vector<std::string>> deleteList_;
  std::string serverFolder_;
  std::vector<BuiltVersion> built_;
  std::string error_;
};

// ------------------------------------------------------------ client folders

// The path of a client-relative name under `folder` in the form of the
// running system ('\\' separators become the native ones).
std::string ClientPath(const std::string& folder, const std::string& name);

// Writes every file of the tree under `folder`, creating subfolders.
bool WriteTree(const std::string& folder, const FileTree& tree, std::string* error = nullptr);

// Every file under `folder`, by client-relative name ('\\' separators).
FileTree ReadTree(const std::string& folder);

// The names CompareClientTree leaves out by default: the engine's own
// files and work folders ("version.ini", "version.dat", "backup\\", "Log\\").
const std::vector<std::string>& DefaultIgnoredNames();

// Differences between the client folder and the expected tree, one line
// each ("missing", "differs" with sizes and CRC texts, "unexpected"), in
// name order; empty when they agree. A name is left out when it equals an
// ignored entry or starts with one that ends in '\\' (letter case aside).
std::string CompareClientTree(const std::string& folder, const FileTree& expected,
                              const std::vector<std::string>& ignored = DefaultIgnoredNames());

// The version in the client's version.dat; -1 when it is missing or
// shorter than 4 bytes.
int64_t ReadClientVersion(const std::string& folder);

}  // namespace testsupport
