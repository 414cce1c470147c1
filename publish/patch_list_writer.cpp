#include "publish/patch_list_writer.h"

namespace publish {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutU64(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

bool PutText(std::vector<uint8_t>& out, const std::string& text, std::string* error) {
  if (text.size() > 255) {
    if (error) *error = "text longer than 255 bytes: " + text.substr(0, 40) + "...";
    return false;
  }
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
  return true;
}

}  // namespace

std::vector<uint8_t> WritePatchList(const PatchListData& list, std::string* error) {
  std::vector<uint8_t> out;
  PutU32(out, list.systemVersion);
  PutU32(out, list.patchVersion);
  out.push_back(list.buildType);
  PutU32(out, static_cast<uint32_t>(list.sections.size()));
  for (const PatchListSection& section : list.sections) {
    if (!PutText(out, section.diffCabCrc, error) || !PutText(out, section.normalCabCrc, error)) return {};
  }
  for (const PatchListSection& section : list.sections) {
    PutU32(out, static_cast<uint32_t>(section.records.size()));
    for (const PatchListRecord& record : section.records) {
      if (!PutText(out, std::string(1, record.lead) + record.name, error) || !PutText(out, record.oldCrc, error) ||
          !PutText(out, record.newCrc, error)) {
        return {};
      }
      out.push_back(record.type);
      PutU64(out, record.orgSize);
      PutU64(out, record.newSize);
    }
  }
  return out;
}

}  // namespace publish
