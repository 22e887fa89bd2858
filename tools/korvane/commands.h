// The subcommands of the korvane tool. Each takes the arguments after its
// name and returns the process exit status: 0 success, 1 nothing produced
// (reason on stderr), 2 usage or I/O error (reason on stderr).
#pragma once

int RunEncode(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunDump(int argc, char** argv);
int RunReencode(int argc, char** argv);
int RunServe(int argc, char** argv);
int RunPartner(int argc, char** argv);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 2;
