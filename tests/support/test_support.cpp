#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/process_paths.h"
#include "platform/system_info.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Each test program gets a temporary folder of its own for the engine
// ("delete.ini" is fetched there): CTest runs programs side by side, and a
// shared file would let one program's run delete another's list.
const struct PrivateEngineTemp {
  PrivateEngineTemp() {
    std::error_code ec;
    std::random_device rd;
    folder = fs::temp_directory_path(ec) / ("patcher-engine-temp-" + std::to_string(rd()));
    if (!fs::create_directory(folder, ec)) return;
    plat::SetTempFolderForTesting(folder.string() + static_cast<char>(fs::path::preferred_separator));
  }
  ~PrivateEngineTemp() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  fs::path folder;
} g_privateEngineTemp;

}  // namespace

std::string TestDataDir() {
  std::string dir = PATCHER_TESTDATA_DIR;
  // Wine maps the Linux root to drive Z:.
  if (plat::IsWindowsSystem() && !dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "patcher-test-" << std::hex << (rd() ^ static_cast<unsigned>(stamp)) << "-" << counter++;
    fs::path p = fs::temp_directory_path() / name.str();
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      const char sep = static_cast<char>(fs::path::preferred_separator);
      if (path_.back() != sep) path_ += sep;
      return;
    }
  }
  throw std::runtime_error("cannot create a temp folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only entries would stop remove_all on Windows; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> SeededBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

std::vector<uint8_t> TextBytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool WriteFileText(const std::string& path, const std::string& text) {
  return WriteFileBytes(path, text.data(), text.size());
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool RunningUnderWine() { return plat::RunningUnderWine(); }

bool ReadOnlyIsIgnored() { return plat::RunningAsRoot(); }

ScopedCurrentDir::ScopedCurrentDir(const std::string& folder) {
  saved_ = fs::current_path().string();
  fs::current_path(folder);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ec;
  fs::current_path(saved_, ec);
}

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream text(ReadFileText(path));
  std::string line;
  bool header = true;
  while (std::getline(text, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(fields);
  }
  return rows;
}

void CopyTree(const std::string& from, const std::string& to) {
  const fs::path source(from), target(to);
  fs::create_directories(target);
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const fs::path destination = target / fs::relative(entry.path(), source);
    if (entry.is_directory()) {
      fs::create_directories(destination);
    } else if (entry.is_regular_file()) {
      fs::copy_file(entry.path(), destination, fs::copy_options::overwrite_existing);
    }
  }
}

void RemoveTree(const std::string& folder) {
  const fs::path root(folder);
  std::error_code error;
  if (!fs::exists(root, error)) return;
  // Windows refuses to delete a read-only file.
  for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
  }
  fs::remove_all(root);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& data, size_t from, size_t size) {
  return std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(from),
                              data.begin() + static_cast<ptrdiff_t>(from + size));
}

}  // namespace testsupport
