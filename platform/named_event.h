// Named events that other processes can test for: the launcher's
// single-instance guard and the marker another program sets to hold the
// patch run back.
//
// Windows: a named auto-reset event, created unsignalled (CreateEventW),
// tested with OpenEventW(EVENT_ALL_ACCESS). It lives while a handle to it
// is open, so it disappears with the processes that hold it.
//
// Elsewhere: an exclusive flock(2) on the file "<folder><name>.lock", where
// <folder> is $XDG_RUNTIME_DIR when set, else the temporary folder. The
// event exists while some process holds the lock; the kernel drops it when
// the holder ends, so a copy that died leaves nothing that counts (the file
// itself stays and means nothing). Another program raises the event with
// the flock command: `flock "$XDG_RUNTIME_DIR/NAME.lock" COMMAND`.
#pragma once

#include <memory>
#include <string>

namespace plat {

class NamedEvent {
 public:
  enum class Result {
    kCreated,  // this process now holds the event
    kExists,   // another holder has it
    kFailed,   // the system refused (no folder, no rights)
  };
  // Creates the event. Unlike an open-then-create pair, two processes that
  // start together cannot both get kCreated.
  static Result Create(const std::string& name, std::unique_ptr<NamedEvent>* event);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  struct Handle;

 private:
  explicit NamedEvent(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// True while some process (this one included) holds the event.
bool NamedEventExists(const std::string& name);

}  // namespace plat
