// A stand-in for the game: writes its arguments and its working folder to
// "stand_in_record.txt" in that folder, so a test sees how it was started.
#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += std::string(i > 1 ? " " : "") + argv[i];
  const std::string folder = std::filesystem::current_path().string();
  // Written to a side name first, so a reader never sees half a record.
  FILE* file = fopen("stand_in_record.tmp", "wb");
  if (!file) return 1;
  fprintf(file, "program %s\narguments %s\nfolder %s\n", argv[0], arguments.c_str(), folder.c_str());
  fclose(file);
  std::error_code error;
  std::filesystem::rename("stand_in_record.tmp", "stand_in_record.txt", error);
  return error ? 1 : 0;
}
