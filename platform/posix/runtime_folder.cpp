#include "platform/posix/runtime_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane_runtime {

std::string ChooseRuntimeFolder()
{
    std::string folder;
    const char* own = std::getenv("KORVANE_RUNTIME_DIR");
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (own && *own) {
        folder = own;
        if (folder[0] != '/') {
            // Every process must name the folder alike: make it absolute.
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd))
                folder = std::string(cwd) + "/" + folder;
        }
    } else if (xdg && xdg[0] == '/') {
        folder = std::string(xdg) + "/korvane";
    } else {
        folder = "/tmp/korvane-" + std::to_string(unsigned(geteuid()));
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool PrepareRuntimeFolder(const std::string& path, std::string& error)
{
    if (path.empty()) {
        error = "the runtime folder name is empty";
        return false;
    }
    struct stat info = {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = "runtime folder " + path + ": " + std::strerror(errno);
            return false;
        }
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create runtime folder " + path + ": " + std::strerror(errno);
            return false;
        }
        if (lstat(path.c_str(), &info) != 0) {
            error = "runtime folder " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "runtime folder " + path + " is not a folder (a link or a file)";
        return false;
    }
    if (info.st_uid != geteuid()) {
        error = "runtime folder " + path + " belongs to user " +
                std::to_string(unsigned(info.st_uid)) + ", not to this user (" +
                std::to_string(unsigned(geteuid())) + ")";
        return false;
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        error = "runtime folder " + path + " is writable by group or others (mode " + mode +
                "); it must be private (mode 0700)";
        return false;
    }
    return true;
}

size_t MaxSocketPathLength()
{
    return sizeof(sockaddr_un::sun_path) - 1;
}

} // namespace korvane_runtime
