#include "launcher/console_launcher.h"

#include <algorithm>
#include <cstring>

#include "launcher/startup.h"

namespace {

// Status text columns of the terminal line, so that it fits 80 columns
// with the bar and the percentage.
constexpr size_t kTextColumns = 50;
constexpr int kBarCells = 20;
// Plain lines: a changed text is printed at most once a second unless the
// bar moved, so a long download does not flood a log.
constexpr auto kPlainLinePeriod = std::chrono::seconds(1);

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string JsonField(const char* name, const std::string& value) { return std::string("\"") + name + "\":" + value; }

}  // namespace

ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& arguments) {
  ConsoleOptions options;
  for (const std::string& argument : arguments) {
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--no-launch") {
      options.noLaunch = true;
    } else if (argument == "--repair") {
      // The engine's repair flag follows from the joined command line, as
      // "-repair" on the window's.
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument.rfind("--", 0) == 0 && options.unknown.empty()) {
      options.unknown = argument;
    }
  }
  return options;
}

const char* ConsoleUsage() {
  return "usage: halvrecht-launcher [--json] [--no-launch] [--repair] [-debug]\n"
         "\n"
         "Brings the game client in the current folder up to date, as the\n"
         "launcher window does, then starts \"halvrecht.exe -a FF\" there.\n"
         "The manifest URL comes from .\\localinfo.dat ([URL] VersionUrl;\n"
         "MaintenanceUrl names an optional maintenance notice).\n"
         "\n"
         "  --json       one JSON object a line on standard output instead of\n"
         "               the status line (fields: event, kind, state, version,\n"
         "               status, total, bar, task, download, extract, patch,\n"
         "               bytes_total, bytes_done; code and text for messages)\n"
         "  --no-launch  stop when the client is ready, without starting the game\n"
         "  --repair     also verify every file the patch lists describe and heal\n"
         "               what differs from its normal cabinet (-repair in the window)\n"
         "  -debug       verbose patch log under Log/ (anywhere in the arguments)\n"
         "  --help       this text\n"
         "\n"
         "Messages go to standard error. Exit status:\n"
         "    0        the client is ready (and the game was started)\n"
         "    1-11     the launcher stopped before or at the engine's start:\n"
         "             1 another launcher runs, 2 no VersionUrl, 3 version.ini\n"
         "             not downloaded, 4 no local version, 5 client too old,\n"
         "             6 client version unknown to the servers, 8 self-updater\n"
         "             not started, 9 game not started, 11 engine not started\n"
         "    12       a maintenance notice was shown\n"
         "    13       the self-updater was started; it restarts the launcher\n"
         "    64       wrong command line\n"
         "    100+N    the patch engine reported error N\n";
}

ConsoleLauncher::ConsoleLauncher(const ConsoleOptions& options, bool terminal, FILE* out, FILE* err,
                                 EngineEntries engine)
    : CPatchWrapper(std::move(engine)), options_(options), terminal_(terminal && !options.json), out_(out), err_(err) {}

int ConsoleLauncher::Run(plat::MessageLoop& loop) {
  if (!options_.json) ShowLine(false);
  if (Initialize(loop.Handle()) && RequestSelfUpdate("")) RequestPatch(kPatchRequestArguments);
  while (!closed_ && Initialized()) {
    plat::WindowMessage message{};
    if (loop.Get(&message, 1000)) HandleWindowMessage(message.message, message.wParam, message.lParam);
  }
  EndLine();
  Json(JsonField("event", "\"exit\"") + "," + JsonField("status", std::to_string(exitStatus_)));
  return exitStatus_;
}

void ConsoleLauncher::OnFatalError(uint32_t code) {
  const std::string text = LauncherErrorText(code);
  if (!text.empty()) Box(kPatcherName, text);
  Json(JsonField("event", "\"fatal_error\"") + "," + JsonField("code", std::to_string(code)) + "," +
       JsonField("text", JsonString(text)));
  Outcome(static_cast<int>(code));
  CloseWindow(kCloseFailed);
}

void ConsoleLauncher::OnEngineError(uint32_t code) {
  const std::string text = EngineErrorText(code);
  if (!text.empty()) Box(kPatcherName, text);
  Json(JsonField("event", "\"engine_error\"") + "," + JsonField("code", std::to_string(code)) + "," +
       JsonField("text", JsonString(text)));
  Outcome(kExitEngineErrorBase + static_cast<int>(code));
}

void ConsoleLauncher::OnProgress(const PatchStatus& status, uint32_t kind, intptr_t) {
  UpdateStatusDisplay(&display_, status, kind);
  if (!options_.json) {
    ShowLine(false);
    return;
  }
  const double bytesTotal = static_cast<double>(status.downloadTotalSize);
  const double bytesDone = status.downloadPercent != 0.0f ? bytesTotal * status.downloadPercent * 0.01 : 0.0;
  Json(JsonField("event", "\"progress\"") + "," + JsonField("kind", std::to_string(kind)) + "," +
       JsonField("state", std::to_string(status.state)) + "," + JsonField("version", std::to_string(status.version)) +
       "," + JsonField("status", JsonString(display_.text)) + "," + JsonField("total", JsonNumber(status.totalPercent)) + "," +
       JsonField("bar", std::to_string(display_.totalBar)) + "," + JsonField("task", JsonNumber(status.taskPercent)) +
       "," + JsonField("download", JsonNumber(status.downloadPercent)) + "," +
       JsonField("extract", JsonNumber(status.extractPercent)) + "," +
       JsonField("patch", JsonNumber(status.patchPercent)) + "," +
       JsonField("bytes_total", std::to_string(status.downloadTotalSize)) + "," +
       JsonField("bytes_done", std::to_string(static_cast<int64_t>(bytesDone))));
}

void ConsoleLauncher::ShowMessage(const std::string& text) {
  Box(kPatcherName, text);
  Json(JsonField("event", "\"notice\"") + "," + JsonField("text", JsonString(text)));
  Outcome(kExitMaintenance);
}

void ConsoleLauncher::CloseWindow(int result) {
  closed_ = true;
  if (result == kCloseSelfUpdate) Outcome(kExitSelfUpdate);
}

void ConsoleLauncher::OnReady() {
  ShowReady(&display_);
  if (options_.json) {
    Json(JsonField("event", "\"ready\"") + "," + JsonField("status", JsonString(display_.text)) + "," +
         JsonField("bar", "100"));
  } else {
    ShowLine(true);
    EndLine();
  }
  if (!options_.noLaunch && Launch(kGameExecutable, kGameArguments) == 0) {
    StopEngine();
    OnFatalError(kLauncherGameFailed);
  }
  Outcome(kExitReady);
  CloseWindow(kCloseReady);
}

// The window passes no arguments on to the self-updater; neither does the
// console.
std::string ConsoleLauncher::GetLaunchArguments() { return std::string(); }

void ConsoleLauncher::ShowLaunchError(const std::string& text) {
  Box(kLaunchErrorCaption, text);
  Json(JsonField("event", "\"launch_error\"") + "," + JsonField("text", JsonString(text)));
}

void ConsoleLauncher::Box(const char* caption, const std::string& text) {
  EndLine();
  fprintf(err_, "%s: %s\n", caption, text.c_str());
  fflush(err_);
}

void ConsoleLauncher::ShowLine(bool final) {
  const int bar = display_.totalBar;
  std::string line = display_.text.substr(0, kTextColumns);
  line.append(kTextColumns - line.size(), ' ');
  line += " [";
  line.append(static_cast<size_t>(bar * kBarCells / 100), '#');
  line.append(static_cast<size_t>(kBarCells - bar * kBarCells / 100), '.');
  char percent[16];
  snprintf(percent, sizeof percent, "] %3d%%", bar);
  line += percent;
  if (line == lastLine_) return;

  if (terminal_) {
    lastLine_ = line;
    fprintf(out_, "\r%s", line.c_str());
    if (drawnWidth_ > line.size()) fprintf(out_, "%*s", static_cast<int>(drawnWidth_ - line.size()), "");
    drawnWidth_ = line.size();
    fflush(out_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!final && bar == lastPlainBar_ && now - lastPlain_ < kPlainLinePeriod) return;
  lastLine_ = line;
  lastPlain_ = now;
  lastPlainBar_ = bar;
  // Plain lines carry no padding.
  while (!line.empty() && line.back() == ' ') line.pop_back();
  fprintf(out_, "%s\n", line.c_str());
  fflush(out_);
}

void ConsoleLauncher::EndLine() {
  if (terminal_ && drawnWidth_ > 0) {
    fprintf(out_, "\n");
    fflush(out_);
  }
  drawnWidth_ = 0;
  lastLine_.clear();
}

void ConsoleLauncher::Json(const std::string& fields) {
  if (!options_.json) return;
  fprintf(out_, "{%s}\n", fields.c_str());
  fflush(out_);
}

void ConsoleLauncher::Outcome(int status) {
  if (outcomeSet_) return;
  outcomeSet_ = true;
  exitStatus_ = status;
}
