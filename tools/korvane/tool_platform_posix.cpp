#include "tools/korvane/tool_platform.h"

#include <fcntl.h>
#include <spawn.h>

#include <string>

extern char** environ;

const char* ToolProgramName()
{
    return "korvane";
}

void UseBinaryStandardStreams() {}

const char* ServeUnavailableReason()
{
    return nullptr;
}

bool OpenInBrowser(const char* url)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "xdg-open";
    std::string target = url;
    char* argv[] = {program, target.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    // Not waited for: the browser may outlive the tool.
    return failed == 0;
}
