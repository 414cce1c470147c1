#include <windows.h>

#include <shellapi.h>

#include <mutex>
#include <optional>

#include "platform/process_launch.h"
#include "platform/win32/wide_text.h"

namespace plat {

namespace {

std::mutex g_argumentsLock;
std::optional<std::vector<std::string>> g_arguments;

std::wstring CurrentFolderWide() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(buffer, length);
}

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
                       0, nullptr);
  std::wstring message = length > 0 && text ? std::wstring(text, length) : std::wstring();
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  return WideToUtf8(message);
}

// One argument as CommandLineToArgvW reads it back.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace

std::vector<std::string> ProcessArguments() {
  {
    std::lock_guard<std::mutex> lock(g_argumentsLock);
    if (g_arguments) return *g_arguments;
  }
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!words) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(WideToUtf8(words[i]));
  ::LocalFree(words);
  return arguments;
}

void SetProcessArguments(const std::vector<std::string>& arguments) {
  std::lock_guard<std::mutex> lock(g_argumentsLock);
  g_arguments = arguments;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return ::SetEnvironmentVariableW(Utf8ToWide(name).c_str(), Utf8ToWide(value).c_str()) != FALSE;
}

bool StartProgram(const std::string& exeName, const std::string& arguments, WindowHandle owner, LaunchError* error) {
  const std::wstring folder = CurrentFolderWide();
  const std::wstring path = folder + L"\\" + Utf8ToWide(exeName);
  const std::wstring wideArguments = Utf8ToWide(arguments);
  const HINSTANCE shell = ::ShellExecuteW(static_cast<HWND>(owner), nullptr, path.c_str(), wideArguments.c_str(),
                                          folder.c_str(), SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(shell) > 32) return true;
  // The path is quoted: unquoted, a folder name with a blank would let the
  // system start a different program whose name is the path's first word.
  std::wstring commandLine = L"\"" + path + L"\" " + wideArguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
  }
  const DWORD code = ::GetLastError();
  error->code = code;
  error->text = SystemErrorText(code);
  return false;
}

struct ChildProcess::State {
  HANDLE process = nullptr;
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
  if (state_->process) {
    Kill();
    int status = 0;
    Wait(10000, &status);
    if (state_->process) ::CloseHandle(state_->process);
  }
}

namespace {

HANDLE OpenInheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
  return ::CreateFileW(write ? Utf8ToWide(path).c_str() : L"NUL", write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &security, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& folder,
                         const std::string& stdoutPath, const std::string& stderrPath) {
  std::wstring commandLine;
  for (const std::string& word : argv) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += QuoteArgument(Utf8ToWide(word));
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = OpenInheritable("", false);
  startup.hStdOutput = stdoutPath.empty() ? ::GetStdHandle(STD_OUTPUT_HANDLE) : OpenInheritable(stdoutPath, true);
  startup.hStdError = stderrPath.empty() ? ::GetStdHandle(STD_ERROR_HANDLE) : OpenInheritable(stderrPath, true);
  PROCESS_INFORMATION process = {};
  const std::wstring wideFolder = Utf8ToWide(folder);
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.empty() ? nullptr : wideFolder.c_str(), &startup, &process);
  if (startup.hStdInput != INVALID_HANDLE_VALUE) ::CloseHandle(startup.hStdInput);
  if (!stdoutPath.empty() && startup.hStdOutput != INVALID_HANDLE_VALUE) ::CloseHandle(startup.hStdOutput);
  if (!stderrPath.empty() && startup.hStdError != INVALID_HANDLE_VALUE) ::CloseHandle(startup.hStdError);
  if (!started) return false;
  ::CloseHandle(process.hThread);
  state_->process = process.hProcess;
  return true;
}

bool ChildProcess::Wait(uint32_t timeoutMs, int* exitStatus) {
  if (!state_->process) return false;
  if (::WaitForSingleObject(state_->process, timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(state_->process, &code);
  ::CloseHandle(state_->process);
  state_->process = nullptr;
  *exitStatus = static_cast<int>(code);
  return true;
}

void ChildProcess::Kill() {
  if (state_->process) ::TerminateProcess(state_->process, 1);
}

}  // namespace plat
