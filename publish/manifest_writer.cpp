#include "publish/manifest_writer.h"

#include <cctype>

#include "platform/ini_profile.h"

namespace publish {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::string NewManifestText(const ManifestContent& content) {
  std::string text =
      "; Manifest of a Halvrecht patch repository, written by patchtool build.\r\n"
      "; LatestVersion: the version clients are brought to; every build raises it.\r\n"
      "; MinimalVersion: the oldest client version this repository can patch.\r\n"
      "; OwnVersion: the patcher version the repository serves (self-update).\r\n"
      "; server1..server3: base URLs of the patch servers (at most three are\r\n"
      "; used); POD1..POD3 in [DOWNLOAD_POD]: their selection weights.\r\n";
  text += "[VERSION]\r\n";
  text += "LatestVersion=" + std::to_string(content.latest) + "\r\n";
  text += "MinimalVersion=" + std::to_string(content.minimal) + "\r\n";
  text += "OwnVersion=" + std::to_string(content.ownVersion) + "\r\n";
  text += "[DOWNLOAD]\r\n";
  bool weighted = false;
  for (size_t i = 0; i < content.servers.size(); ++i) {
    text += "server" + std::to_string(i + 1) + "=" + content.servers[i].url + "\r\n";
    weighted = weighted || content.servers[i].weight != 1;
  }
  if (weighted) {
    text += "[DOWNLOAD_POD]\r\n";
    for (size_t i = 0; i < content.servers.size(); ++i) {
      text += "POD" + std::to_string(i + 1) + "=" + std::to_string(content.servers[i].weight) + "\r\n";
    }
  }
  return text;
}

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
  // Lines with their ends, so that untouched lines come back unchanged.
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, next - at));
    at = next;
  }
  const std::string eol = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
  bool inSection = false;
  size_t sectionEnd = std::string::npos;  // index after the section's last non-blank line
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = Trim(lines[i].substr(0, lines[i].find('\n')));
    if (!line.empty() && line.front() == '[') {
      const size_t close = line.find(']');
      inSection = close != std::string::npos && SameName(Trim(line.substr(1, close - 1)), section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    if (!line.empty()) sectionEnd = i + 1;
    const size_t equals = line.find('=');
    if (line.empty() || line.front() == ';' || equals == std::string::npos) continue;
    if (!SameName(Trim(line.substr(0, equals)), key)) continue;
    const size_t rawEquals = lines[i].find('=');
    const bool crlf = lines[i].size() >= 2 && lines[i].compare(lines[i].size() - 2, 2, "\r\n") == 0;
    const bool lf = !crlf && !lines[i].empty() && lines[i].back() == '\n';
    lines[i] = lines[i].substr(0, rawEquals + 1) + value + (crlf ? "\r\n" : lf ? "\n" : "");
    std::string out;
    for (const std::string& l : lines) out += l;
    return out;
  }
  std::string out;
  if (sectionEnd == std::string::npos) {
    out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    return out + "[" + section + "]" + eol + key + "=" + value + eol;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == sectionEnd) out += key + "=" + value + eol;
    out += lines[i];
    if (i + 1 == sectionEnd && (lines[i].empty() || lines[i].back() != '\n')) out += eol;
  }
  if (sectionEnd == lines.size()) out += key + "=" + value + eol;
  return out;
}

std::string DeleteListText(const std::vector<std::string>& names) {
  std::string text = "[DELETE]\r\n";
  for (size_t i = 0; i < names.size(); ++i) text += "File" + std::to_string(i + 1) + "=" + names[i] + "\r\n";
  return text;
}

std::vector<std::string> ReadDeleteList(const std::string& path) {
  std::vector<std::string> names;
  for (uint32_t n = 1;; ++n) {
    char value[512];
    const std::string key = "File" + std::to_string(n);
    if (plat::ReadProfileString("DELETE", key.c_str(), "", value, sizeof value, path) == 0) break;
    names.emplace_back(value);
  }
  return names;
}

}  // namespace publish
