// Helpers for tests of the message layer between processes (Linux only): a
// private runtime folder per test, raw datagram sockets that stand in for
// foreign or broken peers, child processes with a bounded wait, and polling
// with a safety timeout.
#pragma once

#include "platform/posix/message_wire.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

// Every wait of these tests gives up after this long; a failing run never
// hangs.
constexpr int kSafetyTimeoutMs = 15000;

// Polls `done` every few milliseconds until it holds or timeoutMs passed.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kSafetyTimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A fresh private folder (mode 0700) that KORVANE_RUNTIME_DIR names while
// the object lives.
class RuntimeSandbox
{
public:
    RuntimeSandbox()
    {
        char pattern[] = "/tmp/kvtest-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made ? made : "";
        if (const char* old = std::getenv("KORVANE_RUNTIME_DIR")) {
            m_hadOld = true;
            m_old = old;
        }
        setenv("KORVANE_RUNTIME_DIR", m_path.c_str(), 1);
    }
    ~RuntimeSandbox()
    {
        if (m_hadOld)
            setenv("KORVANE_RUNTIME_DIR", m_old.c_str(), 1);
        else
            unsetenv("KORVANE_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    RuntimeSandbox(const RuntimeSandbox&) = delete;
    RuntimeSandbox& operator=(const RuntimeSandbox&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Endpoint(const std::string& name) const { return m_path + "/" + name; }
    bool HasEndpoint(const std::string& name) const
    {
        struct stat info = {};
        return lstat(Endpoint(name).c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
    }

private:
    std::string m_path;
    std::string m_old;
    bool m_hadOld = false;
};

// A datagram socket used directly, without the message layer.
class RawSocket
{
public:
    // Bound at path, or unbound for an empty path.
    explicit RawSocket(const std::string& path = "") : m_path(path)
    {
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && !path.empty()) {
            sockaddr_un address = Address(path);
            m_bound = bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        }
        const int size = 1 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    ~RawSocket() { Close(); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool Bound() const { return m_bound; }

    // Closes the socket and leaves its file behind, as a killed process does.
    void Close()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    bool SendTo(const std::string& path, const std::vector<uint8_t>& octets) const
    {
        sockaddr_un address = Address(path);
        return sendto(m_fd, octets.data(), octets.size(), MSG_NOSIGNAL,
                      reinterpret_cast<sockaddr*>(&address),
                      sizeof address) == ssize_t(octets.size());
    }

    // The next datagram, or false when none came within timeoutMs.
    bool Receive(std::vector<uint8_t>& octets, int timeoutMs = kSafetyTimeoutMs) const
    {
        pollfd wait = {m_fd, POLLIN, 0};
        if (poll(&wait, 1, timeoutMs) != 1)
            return false;
        octets.assign(korvane_wire::kMaxFrameSize + 1, 0);
        const ssize_t got = recv(m_fd, octets.data(), octets.size(), 0);
        if (got < 0)
            return false;
        octets.resize(size_t(got));
        return true;
    }

    // True when a datagram is waiting right now.
    bool HasDatagram() const
    {
        pollfd wait = {m_fd, POLLIN, 0};
        return poll(&wait, 1, 0) == 1;
    }

private:
    static sockaddr_un Address(const std::string& path)
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        return address;
    }

    std::string m_path;
    int m_fd = -1;
    bool m_bound = false;
};

// A request frame as the message layer would send it.
inline std::vector<uint8_t> RequestFrame(uint64_t sequence, uint32_t message,
                                         const std::string& window, uint64_t dwData = 0,
                                         const std::vector<uint8_t>& block = {},
                                         bool withBlock = false,
                                         uint64_t windowIncarnation = 0x5EED)
{
    korvane_wire::Frame frame;
    frame.kind = korvane_wire::kRequest;
    frame.sequence = sequence;
    frame.message = message;
    if (!window.empty()) {
        frame.flags |= korvane_wire::kFlagWindow;
        frame.windowName = window;
        frame.windowIncarnation = windowIncarnation;
    }
    if (withBlock) {
        frame.flags |= korvane_wire::kFlagBlock;
        frame.dwData = dwData;
        frame.cbData = uint32_t(block.size());
        frame.block = block.data();
    }
    return korvane_wire::EncodeFrame(frame);
}

// Runs body in a forked child, which ends with body's result.
inline pid_t ForkChild(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

// Waits for the child to end; kills it when it does not end within
// timeoutMs. Returns its wait status, or -1 when it had to be killed.
inline int WaitChild(pid_t pid, int timeoutMs = kSafetyTimeoutMs)
{
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
    if (ended)
        return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

} // namespace testing_support
