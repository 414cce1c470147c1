#!/usr/bin/env bash
# Runs a test binary as the unprivileged user "nobody" when started as root,
# as it is otherwise: a POSIX system lets root write read-only files, so the
# read-only cases only mean something for another user. ctest uses this
# for the native "*_unprivileged" entries.
set -eu
if [ "$(id -u)" -eq 0 ]; then
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
fi
exec "$@"
