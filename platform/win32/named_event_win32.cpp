#include <windows.h>

#include "platform/named_event.h"
#include "platform/win32/wide_text.h"

namespace plat {

struct NamedEvent::Handle {
  HANDLE event = nullptr;
  ~Handle() {
    if (event) ::CloseHandle(event);
  }
};

NamedEvent::NamedEvent(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
NamedEvent::~NamedEvent() = default;

NamedEvent::Result NamedEvent::Create(const std::string& name, std::unique_ptr<NamedEvent>* event) {
  auto handle = std::make_unique<Handle>();
  handle->event = ::CreateEventW(nullptr, FALSE, FALSE, Utf8ToWide(name).c_str());
  if (!handle->event) return Result::kFailed;
  // Another process made it between a test and this call.
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return Result::kExists;
  event->reset(new NamedEvent(std::move(handle)));
  return Result::kCreated;
}

bool NamedEventExists(const std::string& name) {
  HANDLE event = ::OpenEventW(EVENT_ALL_ACCESS, FALSE, Utf8ToWide(name).c_str());
  if (!event) return false;
  ::CloseHandle(event);
  return true;
}

}  // namespace plat
