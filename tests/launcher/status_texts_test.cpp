#include "launcher/status_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(StatusTexts, ErrorTextsByCode) {
  struct Case {
    uint32_t code;
    const char* launcher;
    const char* engine;
  };
  const Case cases[] = {
      {0, "", ""},
      {1, "Patcher is already running.", "Failed to download patch file."},
      {2, "Failed to load url of version.ini.", ""},
      {3, "Failed to download version.ini.", "Failed to download patch file."},
      {5, "Your client is old version.\nRe-install the latest version game client", "Failed to download patch file."},
      {6, "Your client is invalid version.\nRe-install the latest version game client.",
       "Failed to extract patch file."},
      {7, "Unknown Error : (code : 7)", "Failed to patch. : (code : 7)"},
      {8, "Failed to execute self-update file.", "Failed to download self-update file."},
      {9, "Failed to execute game client.", "Failed to download patch-list file."},
      {10, "Invalid Custom-ID.", "Failed to download patch-list file."},
      {11, "Failed to initilize downloader", "Cannot find file needed for patch."},
      {12, "Unknown Error : (code : 12)", "Failed to copy file needed for patch."},
      {13, "Unknown Error : (code : 13)", "You have invalid type of patch file."},
      {16, "Unknown Error : (code : 16)", "Failed to update file during patch."},
      {19, "Unknown Error : (code : 19)", "Failed to update game client version."},
      {20, "Unknown Error : (code : 20)", "Wrong CRC has been detected."},
      {21, "Unknown Error : (code : 21)", "Invalid QLMV version"},
      {22, "Unknown Error : (code : 22)", "Failed to patch. : (code : 22)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.launcher, LauncherErrorText(c.code));
    EXPECT_EQ(c.engine, EngineErrorText(c.code));
  }
  EXPECT_EQ("Halvrecht Patcher v28 on X64", WindowTitle(true));
  EXPECT_EQ("Halvrecht Patcher v28 on X86", WindowTitle(false));
}

TEST(StatusTexts, ByteSizesByMagnitude) {
  const std::pair<double, const char*> cases[] = {
      {0, " 0.00 KB"},
      {512, " 0.50 KB"},
      {1024.0 * 1023, "1023.00 KB"},
      {1024.0 * 1024, " 1.00 MB"},
      {1024.0 * 1024 * 250.5, "250.50 MB"},
      {1024.0 * 1024 * 1024 * 3 / 2, " 1.50 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(text, FormatByteSize(bytes)) << bytes;
}

PatchStatus Status() {
  PatchStatus s{};
  s.totalPercent = 42.7f;
  s.version = 103;
  s.sectionCount = 3;
  s.sectionsDownloaded = 1;
  SetStatusText(s.taskText, "bin\\engine.dll");
  s.taskPercent = 62.5f;
  s.downloadPercent = 50.0f;
  s.downloadTotalSize = 2 * 1024 * 1024;
  SetStatusText(s.extractFile, "2D.cab");
  s.extractPercent = 33.0f;
  SetStatusText(s.patchFile, "data\\items.tbl");
  s.patchPercent = 99.9f;
  return s;
}

TEST(StatusTexts, StatusLineAndBarByKind) {
  struct Case {
    uint32_t kind;
    const char* text;  // null: unchanged
    int bar;           // -1: unchanged
  };
  const Case cases[] = {
      {1, nullptr, -1},
      {2, "Downloading: 103 (1/3)  1.00 MB /  2.00 MB", -1},
      {3, nullptr, -1},
      {5, "Self-Patching... 62%", 62},
      {7, "Verifing: bin\\engine.dll 62%", -1},
      {9, "Loading...", -1},
      {11, "Checking: bin\\engine.dll 62%", 42},
      {13, "Patching: data\\items.tbl 99%", 42},
      {15, "Loading...", -1},
      {16, "Extracting: 2D.cab 33%", 42},
      {18, "Loading...", -1},
      {19, nullptr, -1},
      {20, nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    StatusDisplay display;
    display.text = "before";
    display.totalBar = 10;
    display.resetStatus = false;
    UpdateStatusDisplay(&display, Status(), c.kind);
    EXPECT_EQ(c.text ? c.text : "before", display.text);
    EXPECT_EQ(c.bar < 0 ? 10 : c.bar, display.totalBar);
  }
}

TEST(StatusTexts, LoadingOnceAfterStartAndAfterAFinishedPatch) {
  StatusDisplay display;  // a run starts with the flag set
  PatchStatus status = Status();
  UpdateStatusDisplay(&display, status, 2);
  EXPECT_EQ("Loading...", display.text);
  UpdateStatusDisplay(&display, status, 2);
  EXPECT_EQ("Downloading: 103 (1/3)  1.00 MB /  2.00 MB", display.text);

  status.downloadPercent = 0.0f;  // nothing received yet: 0 bytes, not a share of nothing
  UpdateStatusDisplay(&display, status, 2);
  EXPECT_EQ("Downloading: 103 (1/3)  0.00 KB /  2.00 MB", display.text);

  status.patchPercent = 100.0f;
  UpdateStatusDisplay(&display, status, 14);
  EXPECT_EQ("Patching: data\\items.tbl 100%", display.text);
  UpdateStatusDisplay(&display, status, 2);
  EXPECT_EQ("Loading...", display.text);
  UpdateStatusDisplay(&display, status, 2);
  EXPECT_NE("Loading...", display.text);
}

TEST(StatusTexts, TheBarNeverGoesBack) {
  StatusDisplay display;
  PatchStatus status = Status();
  const float totals[] = {20.5f, 80.7f, 78.2f, 81.0f, -5.0f, 250.0f};
  const int bars[] = {20, 80, 80, 81, 81, 100};
  for (size_t i = 0; i < 6; ++i) {
    status.totalPercent = totals[i];
    UpdateStatusDisplay(&display, status, 16);
    EXPECT_EQ(bars[i], display.totalBar) << totals[i];
  }
  ShowReady(&display);
  EXPECT_EQ("Ready to Play!", display.text);
  EXPECT_EQ(100, display.totalBar);
}

}  // namespace
