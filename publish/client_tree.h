// A client tree on the publisher's disk: every file under a folder, named
// as patch lists and cabinets name it (relative, '\\' separators), and the
// rules a name must meet before it may be shipped to players.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

struct TreeFile {
  std::string name;  // client-relative, '\\' separators, as on disk
  std::string path;  // where it is on the publisher's disk
  uint64_t size = 0;
};

struct TreeScan {
  std::vector<TreeFile> files;         // sorted by ClientKey, then by name
  std::vector<std::string> skipped;    // the engine's own files left out
  std::vector<std::string> problems;   // names that cannot be shipped, with the reason
};

// The key under which the engine's lists and checks know a name: ASCII
// letters lower-cased, as Windows compares names.
std::string ClientKey(const std::string& name);

// Why a client-relative name cannot be shipped, or "" when it can: empty,
// absolute, a drive letter or ':' , a ".." component, a character Windows
// does not allow in names, a component ending in a dot or blank, a device
// name (CON, NUL, COM1, ...), longer than a list can hold, or a protected
// name ("version.ini" or "version.dat" anywhere in it), which the patcher
// never delivers.
std::string NameProblem(const std::string& name);

// Walks `root` (a folder on the publisher's disk). The engine's own records
// at the top ("version.dat", "version.ini", in any letter case) are left
// out and named in `skipped`; every other file must pass NameProblem, and
// no two names may differ only in letter case (Windows cannot hold both).
// A missing root is a problem too.
TreeScan ScanTree(const std::string& root);

}  // namespace publish
