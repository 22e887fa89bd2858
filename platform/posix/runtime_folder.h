// The per-user folder that holds the message layer's endpoints.
#pragma once

#include <string>

namespace korvane_runtime {

// The folder the environment names: $KORVANE_RUNTIME_DIR when set and not
// empty, else $XDG_RUNTIME_DIR/korvane when that is an absolute path, else
// /tmp/korvane-<effective uid>.
std::string ChooseRuntimeFolder();

// Makes sure `path` is a folder only this user can write to: creates it
// (mode 0700, the last component only) when it is missing; refuses a
// symbolic link or anything else that is not a folder, a folder owned by
// another user, and a folder writable by group or others. On refusal the
// reason is in `error`.
bool PrepareRuntimeFolder(const std::string& path, std::string& error);

// The longest path a Unix domain socket address holds (without the NUL).
size_t MaxSocketPathLength();

} // namespace korvane_runtime
