#include "console/state_storage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Reason()
{
    return std::strerror(errno);
}

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a plain file";
}

// The file a path finally names: symbolic links followed (relative ones
// from the link's folder), at most 40 of them.
bool FollowLinks(const std::string& path, std::string& target, std::string& error)
{
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return true;
        std::string link(size_t(status.st_size > 0 ? status.st_size : 4096) + 1, '\0');
        const ssize_t got = readlink(target.c_str(), link.data(), link.size());
        if (got < 0) {
            error = "cannot read the link " + target + ": " + Reason();
            return false;
        }
        link.resize(size_t(got));
        if (!link.empty() && link.front() != '/') {
            const size_t slash = target.rfind('/');
            link =
                (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
        }
        target = link;
    }
    error = "cannot follow " + path + ": too many symbolic links";
    return false;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t at = 0;
    while (at < text.size()) {
        const ssize_t wrote = write(fd, text.data() + at, text.size() - at);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += size_t(wrote);
    }
    return true;
}

} // namespace

bool ReadRegularFile(const std::string& path, size_t limit, std::string& text, std::string& error)
{
    // Non-blocking, so that opening a FIFO cannot wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + Reason();
        return false;
    }
    struct stat status;
    bool ok = fstat(fd, &status) == 0;
    if (!ok) {
        error = "cannot read " + path + ": " + Reason();
    } else if (!S_ISREG(status.st_mode)) {
        error = path + ": not a regular file (" + KindOf(status.st_mode) + ")";
        ok = false;
    } else if (uint64_t(status.st_size) > limit) {
        error = path + ": larger than " + std::to_string(limit) + " octets";
        ok = false;
    }
    text.clear();
    while (ok) {
        char buffer[65536];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + Reason();
            ok = false;
        } else if (got == 0) {
            break;
        } else if (text.size() + size_t(got) > limit) {
            error = path + ": larger than " + std::to_string(limit) + " octets";
            ok = false;
        } else {
            text.append(buffer, size_t(got));
        }
    }
    close(fd);
    return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error)
{
    std::string target;
    if (!FollowLinks(path, target, error))
        return false;
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = target + ": not a regular file (" + KindOf(existing.st_mode) + ")";
        return false;
    }

    const std::string temporary = target + ".tmp-" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        // Left behind by an earlier run that had the same process id.
        unlink(temporary.c_str());
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        error = "cannot write " + temporary + ": " + Reason();
        return false;
    }
    bool ok = true;
    if (exists) {
        // Owner and group first: changing them may clear set-id bits.
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Not permitted for another user's file: the new file stays ours.
        }
        ok = fchmod(fd, existing.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, text) && fsync(fd) == 0;
    if (!ok)
        error = "cannot write " + temporary + ": " + Reason();
    if (close(fd) != 0 && ok) {
        error = "cannot write " + temporary + ": " + Reason();
        ok = false;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot replace " + target + ": " + Reason();
        ok = false;
    }
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}
