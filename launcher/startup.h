// The launcher's start-up pieces that every front-end shares: the command
// line join, the debug switch, the local settings ".\\localinfo.dat", the
// maintenance notice and the routine that starts another program from the
// client folder. CPatchWrapper::Initialize runs them in order; the window
// calls LaunchExecutable itself for its play button.
//
// All text here is UTF-8 except what goes to or comes from the engine and
// the settings file (narrow text in the system code page).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/message_sink.h"

// Launcher error codes. 3 to 6 and 11 are PLV5_Init results passed on.
constexpr uint32_t kLauncherAlreadyRunning = 1;
constexpr uint32_t kLauncherNoVersionUrl = 2;
constexpr uint32_t kLauncherSelfUpdateFailed = 8;
constexpr uint32_t kLauncherGameFailed = 9;

// The event whose existence means a launcher runs already.
inline constexpr char kSingleInstanceEventName[] = "DFF954A9-35DE-4f82-862F-37B26F9F75C7";
// The settings file, relative to the working folder.
inline constexpr char kLocalSettingsFile[] = ".\\localinfo.dat";
// The notice is fetched to this name in the user's temporary folder.
inline constexpr char kMaintenanceFileName[] = "maintenance.ini";
inline constexpr char kDebugSwitch[] = "-debug";
// Verify every file of the client and heal what differs (the console
// launcher's "--repair" holds it too).
inline constexpr char kRepairSwitch[] = "-repair";

// Engine flags: log on and stale version folders removed; with "-debug"
// anywhere in the parameters (also inside a longer word) the verbose log too,
// with "-repair" the engine's repair flag.
constexpr uint32_t kLauncherFlags = 5;
constexpr uint32_t kLauncherDebugFlags = 7;

// The arguments after the program name, each followed by one space, the
// last space dropped: {} gives "", {"a", "b"} gives "a b".
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// kLauncherDebugFlags when `parameters` contains "-debug", else kLauncherFlags;
// with kFlagRepair added when they contain "-repair".
uint32_t EngineFlagsFor(const std::string& parameters);

// `VersionUrl` of section `URL` of the settings file in the current folder;
// false when the key is missing or empty.
bool ReadVersionUrl(std::string* url);
// `MaintenanceUrl` of section `URL`; "" when missing.
std::string ReadMaintenanceUrl();
// `LauncherPageUrl` of section `URL`: the page the window shows; "" when
// missing (the window then shows its artwork only).
std::string ReadLauncherPageUrl();

// Fetches one URL into one file; true when the file arrived whole.
using DownloadFileFunction = std::function<bool(const std::string& url, const std::string& file)>;

// The active maintenance notice, or "" when there is none: no URL, a failed
// or too slow download, `IsUsed` 0 or missing, or an empty `Msg` (a missing
// `Msg` reads "Maintenance"). The download gets at most `deadlineMs`; a
// server that holds it longer counts as no notice, so a stalled notice host
// never keeps the launcher from starting. The transfer may still be running
// in the background then; it only ever writes the temporary file.
std::string CheckMaintenance(const std::string& maintenanceUrl, const DownloadFileFunction& download,
                             uint32_t deadlineMs);

// The time the maintenance download may take: the socket transfer's
// connection time-out.
uint32_t MaintenanceDeadlineMs();

// Starts `exeName` from the current folder with the argument string (the
// shell first, then a direct process start on Windows; posix_spawn
// elsewhere, through Wine for a Windows program). On failure calls
// `showError` with "[LastError : 0x%x ] %s" (the system's text for the
// error) for a box captioned kLaunchErrorCaption, and returns 0; 1 when
// the program started.
uint32_t LaunchExecutable(const std::string& exeName, const std::string& arguments, plat::WindowHandle owner,
                          const std::function<void(const std::string& text)>& showError);
