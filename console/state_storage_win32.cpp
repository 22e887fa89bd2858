#include "console/state_storage.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The file a path finally names: symbolic links followed.
fs::path FollowLinks(const fs::path& path)
{
    fs::path target = path;
    std::error_code failure;
    for (int hops = 0; hops < 40 && fs::is_symlink(target, failure); ++hops) {
        const fs::path link = fs::read_symlink(target, failure);
        if (failure)
            break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

} // namespace

bool ReadRegularFile(const std::string& path, size_t limit, std::string& text, std::string& error)
{
    std::error_code failure;
    const fs::file_status status = fs::status(path, failure);
    if (failure) {
        error = "cannot read " + path + ": " + failure.message();
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = path + ": not a regular file (" +
                (fs::is_directory(status) ? "a directory" : "a device or other special file") + ")";
        return false;
    }
    const uintmax_t size = fs::file_size(path, failure);
    if (failure || size > limit) {
        error = failure ? "cannot read " + path + ": " + failure.message()
                        : path + ": larger than " + std::to_string(limit) + " octets";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad() || text.size() > limit) {
        error = file.bad() ? "cannot read " + path
                           : path + ": larger than " + std::to_string(limit) + " octets";
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error)
{
    const fs::path target = FollowLinks(fs::path(path));
    fs::path temporary = target;
    temporary += ".tmp-" + std::to_string(GetCurrentProcessId());
    bool ok = true;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot write " + temporary.string();
            return false;
        }
        file.write(text.data(), std::streamsize(text.size()));
        file.flush();
        ok = bool(file);
    }
    if (!ok) {
        error = "cannot write " + temporary.string();
    } else if (!MoveFileExW(temporary.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot replace " + target.string() + ": " +
                std::system_category().message(int(GetLastError()));
        ok = false;
    }
    if (!ok) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
    }
    return ok;
}
