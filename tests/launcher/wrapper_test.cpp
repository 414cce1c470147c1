#include "launcher/patch_wrapper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "launcher/startup.h"
#include "platform/named_event.h"
#include "platform/process_launch.h"
#include "platform/process_paths.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using launchertest::PumpUntil;

// The engine's entry functions as the tests want them to answer; every
// call is recorded by name.
struct FakeEngine {
  uint32_t initResult = 0;
  PatchStartResults results{};
  PatchStartParams params{};
  PatchStatus status{};
  bool published = true;
  uint32_t startResult = 1;
  std::string maintenanceFile;  // written by the download when set
  bool downloadOk = false;
  uint32_t downloadSleepMs = 0;
  std::vector<std::string> calls;

  int Count(const std::string& name) const { return static_cast<int>(std::count(calls.begin(), calls.end(), name)); }

  EngineEntries Entries() {
    EngineEntries e;
    e.init = [this](PatchStartParams p, PatchStartResults* r) {
      calls.push_back("init");
      params = p;
      *r = results;
      return initResult;
    };
    e.startPatch = [this] {
      calls.push_back("startPatch");
      return startResult;
    };
    e.startSelfUpdate = [this] {
      calls.push_back("startSelfUpdate");
      return startResult;
    };
    e.uninit = [this] { calls.push_back("uninit"); };
    e.lockStatus = [this] { return published ? &status : nullptr; };
    e.unlockStatus = [] {};
    // Runs on a thread of its own and may outlive the test: it copies what it needs.
    e.downloadFile = [content = maintenanceFile, ok = downloadOk, sleepMs = downloadSleepMs](const std::string&,
                                                                                           const std::string& file) {
      std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
      if (ok) testsupport::WriteFileText(file, content);
      return ok;
    };
    return e;
  }
};

// A front-end that writes down what the wrapper asked of it.
class RecordingWrapper : public CPatchWrapper {
 public:
  explicit RecordingWrapper(FakeEngine& engine) : CPatchWrapper(engine.Entries()) {}
  std::vector<std::string> events;
  bool baseReady = false;  // run the base OnReady (which launches the game)

  void OnFatalError(uint32_t code) override {
    events.push_back("fatal " + std::to_string(code));
    CloseWindow(kCloseFailed);
  }
  void OnEngineError(uint32_t code) override { events.push_back("engine " + std::to_string(code)); }
  void OnProgress(const PatchStatus& status, uint32_t kind, intptr_t) override {
    events.push_back("progress " + std::to_string(kind) + " state " + std::to_string(status.state));
  }
  void ShowMessage(const std::string& text) override { events.push_back("message " + text); }
  void CloseWindow(int result) override { events.push_back("close " + std::to_string(result)); }
  void OnReady() override {
    events.push_back("ready");
    if (baseReady) CPatchWrapper::OnReady();
  }
  void ShowLaunchError(const std::string& text) override { events.push_back("launch error " + text); }

  bool Has(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    launchertest::IsolateFolders();
    plat::SetProcessArguments({});
    WriteSettings("[URL]\nVersionUrl=http://127.0.0.1:9/a/version.ini\n");
  }
  void TearDown() override { plat::SetProcessArguments({}); }

  void WriteSettings(const std::string& text) { ASSERT_TRUE(testsupport::WriteFileText(folder_ / "localinfo.dat", text)); }

  // Initialize with the fake engine's answers, then what the window does next.
  void Start(RecordingWrapper& wrapper) {
    if (wrapper.Initialize(loop_.Handle()) && wrapper.RequestSelfUpdate("")) wrapper.RequestPatch("parameter");
  }

  testsupport::TempDir folder_;
  testsupport::ScopedCurrentDir inFolder_{folder_.Path()};
  plat::MessageLoop loop_;
  FakeEngine engine_;
};

TEST_F(WrapperTest, StartParametersFromSettingsAndCommandLine) {
  struct Case {
    std::vector<std::string> arguments;
    const char* parameters;
    uint32_t flags;
  };
  const Case cases[] = {
      {{}, "", 5},
      {{"a", "b"}, "a b", 5},
      {{"x", "-debug"}, "x -debug", 7},
      {{"--no-debugging"}, "--no-debugging", 7},  // inside a longer word counts too
      {{"-Debug"}, "-Debug", 5},
      {{"-repair"}, "-repair", 5 | kFlagRepair},
      {{"--repair", "-debug"}, "--repair -debug", 7 | kFlagRepair},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    plat::SetProcessArguments(c.arguments);
    FakeEngine engine;
    RecordingWrapper wrapper(engine);
    ASSERT_EQ(1u, wrapper.Initialize(loop_.Handle()));
    EXPECT_EQ(c.parameters, wrapper.CommandLineParameters());
    const PatchStartParams& p = engine.params;
    EXPECT_EQ(c.flags, p.flags);
    EXPECT_EQ(loop_.Handle(), p.ownerWindow);
    EXPECT_EQ(2024u, p.progressMessage);
    EXPECT_EQ(2025u, p.errorMessage);
    EXPECT_STREQ("http://127.0.0.1:9/a/version.ini", p.manifestUrl);
    EXPECT_EQ(plat::CurrentFolder(), p.workingFolder);
    EXPECT_STREQ("VERSION", p.versionSection);
    EXPECT_STREQ("DOWNLOAD", p.downloadSection);
    EXPECT_EQ(0u, p.downloaderType);
    EXPECT_EQ(0u, p.keepOldManifest);
  }
}

TEST_F(WrapperTest, InitResultsDecideWhatFollows) {
  struct Case {
    uint32_t initResult;
    uint32_t preDownStart;
    bool initialized;
    bool patchNeeded;
    bool selfUpdate;
    std::vector<std::string> calls;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {0, 0, true, true, false, {"init"}, {}},
      {0, 28, true, true, false, {"init"}, {}},
      {0, 29, true, true, true, {"init", "startSelfUpdate"}, {}},
      {7, 0, true, false, false, {"init"}, {}},
      {3, 0, false, true, false, {"init", "uninit"}, {"fatal 3", "close 2"}},
      {11, 0, false, true, false, {"init", "uninit"}, {"fatal 11", "close 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initResult << " " << c.preDownStart);
    FakeEngine engine;
    engine.initResult = c.initResult;
    engine.results.preDownStartVersion = c.preDownStart;
    {
      RecordingWrapper wrapper(engine);
      Start(wrapper);
      EXPECT_EQ(c.initialized, wrapper.Initialized());
      EXPECT_EQ(c.patchNeeded, wrapper.PatchNeeded());
      EXPECT_EQ(c.selfUpdate, wrapper.SelfUpdateNeeded());
      EXPECT_EQ(c.calls, engine.calls);
      EXPECT_EQ(c.events, wrapper.events);
      // A self-update keeps the patch run from being asked for.
      EXPECT_EQ(c.initialized && !c.selfUpdate ? 1u : 0u, wrapper.RequestPatch(""));
    }
  }
}

TEST_F(WrapperTest, MissingUrlAndEngineStartFailureEndTheLauncher) {
  WriteSettings("[URL]\nMaintenanceUrl=\n");
  {
    RecordingWrapper wrapper(engine_);
    Start(wrapper);
    EXPECT_EQ((std::vector<std::string>{"fatal 2", "close 2"}), wrapper.events);
    EXPECT_TRUE(engine_.calls.empty());
  }
  // An engine that cannot start its run would never post a message.
  WriteSettings("[URL]\nVersionUrl=http://127.0.0.1:9/v.ini\n");
  engine_.startResult = 0;
  engine_.results.preDownStartVersion = 29;
  RecordingWrapper wrapper(engine_);
  Start(wrapper);
  EXPECT_EQ((std::vector<std::string>{"init", "startSelfUpdate", "uninit"}), engine_.calls);
  EXPECT_EQ((std::vector<std::string>{"fatal 11", "close 2"}), wrapper.events);
}

TEST_F(WrapperTest, MaintenanceNotice) {
  struct Case {
    const char* settingsUrl;
    bool downloadOk;
    const char* file;
    const char* notice;  // null: the launcher goes on to the engine
  };
  const Case cases[] = {
      {"http://127.0.0.1:9/m.ini", true, "[MAINTENANCE]\nIsUsed=1\n", "Maintenance"},
      {"http://127.0.0.1:9/m.ini", true, "[MAINTENANCE]\nIsUsed=1\nMsg=Back at 10:00\n", "Back at 10:00"},
      {"http://127.0.0.1:9/m.ini", true, "[MAINTENANCE]\nIsUsed=0\nMsg=ignored\n", nullptr},
      {"http://127.0.0.1:9/m.ini", true, "[MAINTENANCE]\nIsUsed=1\nMsg=\"\"\n", nullptr},
      {"http://127.0.0.1:9/m.ini", false, "[MAINTENANCE]\nIsUsed=1\n", nullptr},
      {nullptr, true, "[MAINTENANCE]\nIsUsed=1\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string settings = "[URL]\nVersionUrl=http://127.0.0.1:9/v.ini\n";
    if (c.settingsUrl) settings += std::string("MaintenanceUrl=") + c.settingsUrl + "\n";
    WriteSettings(settings);
    FakeEngine engine;
    engine.downloadOk = c.downloadOk;
    engine.maintenanceFile = c.file;
    RecordingWrapper wrapper(engine);
    const uint32_t result = wrapper.Initialize(loop_.Handle());
    if (c.notice) {
      EXPECT_EQ(0u, result);
      EXPECT_EQ((std::vector<std::string>{std::string("message ") + c.notice, "close 2"}), wrapper.events);
      EXPECT_TRUE(engine.calls.empty());
    } else {
      EXPECT_EQ(1u, result);
      EXPECT_TRUE(wrapper.events.empty());
    }
  }
}

TEST_F(WrapperTest, ASlowMaintenanceHostDoesNotHoldTheStart) {
  WriteSettings("[URL]\nVersionUrl=http://127.0.0.1:9/v.ini\nMaintenanceUrl=http://127.0.0.1:9/m.ini\n");
  engine_.downloadOk = true;
  engine_.maintenanceFile = "[MAINTENANCE]\nIsUsed=1\n";
  engine_.downloadSleepMs = 3000;
  RecordingWrapper wrapper(engine_);
  wrapper.SetMaintenanceDeadlineMs(200);
  const auto start = Clock::now();
  EXPECT_EQ(1u, wrapper.Initialize(loop_.Handle()));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(1, engine_.Count("init"));
}

TEST_F(WrapperTest, OneLauncherAtATime) {
  {
    RecordingWrapper first(engine_);
    ASSERT_EQ(1u, first.Initialize(loop_.Handle()));
    FakeEngine other;
    RecordingWrapper second(other);
    EXPECT_EQ(0u, second.Initialize(loop_.Handle()));
    EXPECT_EQ((std::vector<std::string>{"fatal 1", "close 2"}), second.events);
    EXPECT_TRUE(other.calls.empty());
  }
  // The first one ended: its guard went with it.
  FakeEngine later;
  RecordingWrapper third(later);
  EXPECT_EQ(1u, third.Initialize(loop_.Handle()));
}

TEST_F(WrapperTest, NothingToPatchIsReadyAfterTheFirstTimer) {
  engine_.initResult = 7;
  RecordingWrapper wrapper(engine_);
  const auto start = Clock::now();
  Start(wrapper);
  ASSERT_TRUE(PumpUntil(loop_, wrapper, [&] { return wrapper.Has("ready"); }, 3000));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(450));
  EXPECT_EQ((std::vector<std::string>{"init", "uninit"}), engine_.calls);
}

TEST_F(WrapperTest, TheWaitEventHoldsThePatchRunBack) {
  RecordingWrapper wrapper(engine_);
  std::unique_ptr<plat::NamedEvent> wait;
  ASSERT_EQ(plat::NamedEvent::Result::kCreated, plat::NamedEvent::Create(kWaitEventName, &wait));
  Start(wrapper);
  EXPECT_FALSE(PumpUntil(loop_, wrapper, [&] { return engine_.Count("startPatch") > 0; }, 2000));
  wait.reset();
  const auto released = Clock::now();
  ASSERT_TRUE(PumpUntil(loop_, wrapper, [&] { return engine_.Count("startPatch") > 0; }, 3000));
  EXPECT_LT(Clock::now() - released, std::chrono::milliseconds(1500));
  // Timer 1000 was killed: the run is started once.
  PumpUntil(loop_, wrapper, [] { return false; }, 700);
  EXPECT_EQ(1, engine_.Count("startPatch"));
}

TEST_F(WrapperTest, RunStatesAndErrorsEndTheRun) {
  struct Case {
    std::vector<std::pair<uint32_t, uint32_t>> messages;  // (message, wParam); state for 2024 from `states`
    std::vector<uint32_t> states;
    std::vector<std::string> events;
    int uninits;
  };
  const Case cases[] = {
      // State 10: stop and ready; a progress message still queued changes nothing.
      {{{2024, 19}, {2024, 12}}, {10, 10}, {"progress 19 state 10", "ready"}, 1},
      // A state other than 2 and 10 changes nothing.
      {{{2024, 19}, {2024, 2}}, {7, 7}, {"progress 19 state 7", "progress 2 state 7"}, 0},
      // The state holds until the next kind 19.
      {{{2024, 19}, {2024, 16}}, {7, 10}, {"progress 19 state 7", "progress 16 state 10"}, 0},
      // Codes 0 and 2 show nothing but still end the launcher.
      {{{2025, 0}}, {}, {"engine 0", "close 2"}, 1},
      {{{2025, 2}}, {}, {"engine 2", "close 2"}, 1},
      {{{2025, 3}, {2025, 5}}, {}, {"engine 3", "close 2"}, 1},
  };
  for (const Case& c : cases) {
    FakeEngine engine;
    RecordingWrapper wrapper(engine);
    ASSERT_EQ(1u, wrapper.Initialize(loop_.Handle()));
    size_t state = 0;
    for (const auto& [message, wParam] : c.messages) {
      if (message == 2024) engine.status.state = c.states[state++];
      EXPECT_EQ(1u, wrapper.HandleWindowMessage(message, wParam, 0));
    }
    EXPECT_EQ(c.events, wrapper.events);
    EXPECT_EQ(c.uninits, engine.Count("uninit"));
  }

  // No published record: the message is not the wrapper's to act on.
  engine_.published = false;
  RecordingWrapper wrapper(engine_);
  ASSERT_EQ(1u, wrapper.Initialize(loop_.Handle()));
  EXPECT_EQ(0u, wrapper.HandleWindowMessage(2024, 19, 0));
  EXPECT_TRUE(wrapper.events.empty());
  EXPECT_EQ(0u, wrapper.HandleWindowMessage(0x0400, 0, 0));
}

TEST_F(WrapperTest, AProgramThatCannotStartIsReported) {
  // State 2 starts the self-updater, the base OnReady the game; neither
  // exists in this folder. The system's error 2 is "file not found" on
  // both systems.
  struct Case {
    uint32_t state;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {2, {"progress 19 state 2", "launch error", "fatal 8", "close 2", "close 0"}},
      {10, {"progress 19 state 10", "ready", "launch error", "fatal 9", "close 2", "close 1"}},
  };
  for (const Case& c : cases) {
    FakeEngine engine;
    engine.status.state = c.state;
    RecordingWrapper wrapper(engine);
    wrapper.baseReady = true;
    ASSERT_EQ(1u, wrapper.Initialize(loop_.Handle()));
    wrapper.HandleWindowMessage(2024, 19, 0);
    std::vector<std::string> events = wrapper.events;
    for (std::string& e : events) {
      if (e.rfind("launch error ", 0) == 0) {
        EXPECT_EQ(0u, e.find("launch error [LastError : 0x2 ] ")) << e;
        EXPECT_GT(e.size(), strlen("launch error [LastError : 0x2 ] ")) << "the system's text is missing";
        e = "launch error";
      }
    }
    EXPECT_EQ(c.events, events);
  }
}

}  // namespace
