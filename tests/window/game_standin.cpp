// Stands in for "halvrecht.exe": writes its arguments, joined by spaces
// and ending in a line feed, to "played.txt" in its current folder.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  FILE* out = std::fopen("played.txt", "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "%s\n", line.c_str());
  return std::fclose(out) == 0 ? 0 : 1;
}
