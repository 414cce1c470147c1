// Helpers shared by every test binary: a temp folder owned by a fixture,
// the shared test data folder, and whole-file read/write.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// The shared test data folder (read-only), with a trailing '/'. Under Wine a
// Linux absolute path is given drive Z: so Windows file calls reach it.
std::string TestDataDir();

// A fresh, empty folder under the system temp folder, removed with
// everything in it when the object goes away. Path() ends in a separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// `size` bytes of a Mersenne twister seeded with `seed`: the same bytes on
// every build.
std::vector<uint8_t> SeededBytes(size_t size, uint32_t seed);
// The bytes of a text.
std::vector<uint8_t> TextBytes(const std::string& text);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool WriteFileBytes(const std::string& path, const void* data, size_t size);
bool WriteFileText(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);

// Test inputs put together from pieces: the parts one after the other, and
// `size` bytes of `data` from `from` on.
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> Slice(const std::vector<uint8_t>& data, size_t from, size_t size);

// Copies a folder tree file by file (the MinGW library's recursive copy
// copies nothing under Wine); read-only files stay read-only.
void CopyTree(const std::string& from, const std::string& to);
// Removes a folder tree, read-only files included.
void RemoveTree(const std::string& folder);

// The rows of a tab-separated table after its header line, each split at
// the tabs; empty lines are skipped and CR LF line ends accepted.
std::vector<std::vector<std::string>> ReadTsv(const std::string& path);

// True when a Windows test binary runs under Wine.
bool RunningUnderWine();

// The read-only cases: the product must clear a file's read-only attribute
// before it writes, replaces or deletes the file. A POSIX system lets root
// write such files anyway, so natively these cases prove nothing as root;
// there they are skipped and ctest runs them as "nobody" in the binary's
// "_unprivileged" entry. Windows builds keep them.
bool ReadOnlyIsIgnored();
#define SKIP_READ_ONLY_CASE_AS_ROOT()                                                             \
  if (testsupport::ReadOnlyIsIgnored())                                                           \
  GTEST_SKIP() << "as root the system writes read-only files; the ctest entry *_unprivileged " \
                  "runs this case as nobody"

// Runs the body while the process's current folder is `folder`.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& folder);
  ~ScopedCurrentDir();

 private:
  std::string saved_;
};

}  // namespace testsupport
