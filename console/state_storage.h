// Reading and replacing the console's state file on disk; the platform
// parts (*_posix.cpp, *_win32.cpp).
#pragma once

#include <cstddef>
#include <string>

// The state file is read whole into memory; larger files are refused.
constexpr size_t kMaxStateFileOctets = 64u << 20;

// Reads the whole file into text. Refuses anything but a regular file (a
// directory, a device, a FIFO, a socket: never opened for reading, so none
// can block or run on without end) and files larger than limit octets.
// False with a one-line reason.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& text, std::string& error);

// Replaces the file's contents with text atomically: written to a new file
// beside it, flushed to the disk, then renamed over it. A symbolic link
// stays a link: the file it leads to is replaced (beside that file). An
// existing file keeps its permission bits (and, where permitted, its owner
// and group); a new one is made with the usual permissions. When anything
// fails the file is unchanged and the new file is removed. False with a
// one-line reason.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);
