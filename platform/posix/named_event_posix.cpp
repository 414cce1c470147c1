#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/named_event.h"
#include "platform/process_paths.h"

namespace plat {

struct NamedEvent::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) close(fd);  // closing drops the lock
  }
};

namespace {

std::string LockPath(const std::string& name) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  std::string folder = (runtime && *runtime) ? runtime : TempFolder();
  if (folder.back() != '/') folder += '/';
  return folder + name + ".lock";
}

}  // namespace

NamedEvent::NamedEvent(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
NamedEvent::~NamedEvent() = default;

NamedEvent::Result NamedEvent::Create(const std::string& name, std::unique_ptr<NamedEvent>* event) {
  auto handle = std::make_unique<Handle>();
  handle->fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (handle->fd < 0) return Result::kFailed;
  // flock locks belong to the open file description, so a second Create in
  // the same process conflicts too, as a second CreateEventW would see the
  // first event.
  if (flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? Result::kExists : Result::kFailed;
  }
  event->reset(new NamedEvent(std::move(handle)));
  return Result::kCreated;
}

bool NamedEventExists(const std::string& name) {
  NamedEvent::Handle probe;
  probe.fd = open(LockPath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (probe.fd < 0) return false;
  // A shared probe: it only fails while someone holds the lock exclusively.
  if (flock(probe.fd, LOCK_SH | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

}  // namespace plat
