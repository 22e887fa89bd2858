// The partner link on the POSIX message layer: the link's thread and a
// standard-input thread hand their events to the main thread through a
// queue and WakeMessageLoop; the main thread alone talks to the service.
#include "tools/console_net/partner_link.h"

#include "host/protocol.h"
#include "tools/console/console_tree.h"
#include "tools/console_net/partner_output.h"
#include "winapi.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_stop{0};

void OnStopSignal(int signal)
{
    g_stop.store(signal);
    WakeMessageLoop();
}

struct Item
{
    enum Kind
    {
        Link,
        Line,
        InputEnd,
    } kind = Link;
    ConsoleLinkEvent event;
    std::string line;
};

// A block waiting to go to the service.
struct Outgoing
{
    enum Kind
    {
        Command,
        Console,
        KeepAlive,
    } kind = Command;
    std::string line;
    std::vector<uint8_t> octets;
    bool announced = false;
};

// Where the other threads leave their items; shared with them, since the
// standard-input thread may outlive the session.
struct Inbox
{
    std::mutex mutex;
    std::deque<Item> items;

    void Push(Item item)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back(std::move(item));
        }
        WakeMessageLoop();
    }
};

class Session
{
public:
    Session(const PartnerLinkOptions& options)
        : m_options(options), m_output(options.json), m_link(options.link)
    {}

    int Run();

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    bool FindService();
    void Drain();
    void Handle(Item& item);
    // Sends what waits for the service, in order; stops at a block the
    // service did not take (it is tried again after the backoff).
    void SendPending();
    void OnServiceBlock(const COPYDATASTRUCT& block);

    const PartnerLinkOptions& m_options;
    CPartnerOutput m_output;
    CConsoleLink m_link;
    HWND m_self = nullptr;
    HWND m_service = nullptr;

    std::shared_ptr<Inbox> m_inbox = std::make_shared<Inbox>();

    std::deque<Outgoing> m_outgoing;
    bool m_inputDone = true;
    bool m_failed = false;
    int m_serviceFailures = 0;
    Clock::time_point m_serviceRetryAt{};
    Clock::time_point m_lastActivity = Clock::now();
};

Session* g_session = nullptr;

LRESULT CALLBACK Session::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA || !lParam || !g_session)
        return DefWindowProcA(window, message, wParam, lParam);
    g_session->OnServiceBlock(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return 1;
}

void Session::OnServiceBlock(const COPYDATASTRUCT& block)
{
    const auto* octets = static_cast<const uint8_t*>(block.lpData);
    const size_t size = octets ? block.cbData : 0;
    const uint32_t kind = BlockKind(block.dwData);
    // Keep-alives come and go all the time; they do not keep the link from
    // ending.
    if (kind != BLOCK_CONSOLE_DATA)
        m_lastActivity = Clock::now();
    if (kind == BLOCK_ENCODED) {
        m_output.Encoded(octets, size);
        m_link.Send(std::vector<uint8_t>(octets, octets + size));
    } else if (kind == BLOCK_REPORT) {
        m_output.Report(reinterpret_cast<const char*>(octets), size);
    } else if (kind == BLOCK_CONSOLE_DATA && BlockLength(block.dwData) == KEEP_ALIVE_LENGTH) {
        const std::vector<uint8_t> echo(octets, octets + size);
        m_output.KeepAliveEchoed(echo == KeepAliveOctets());
        m_link.Send(echo);
    }
}

BOOL CollectName(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return TRUE;
}

bool Session::FindService()
{
    if (!m_options.service.empty()) {
        // --service ARG names Korvane_ARG; a full name Korvane_... is taken too.
        std::string wanted = kHostWindowPrefix + m_options.service;
        m_service = FindWindowA(nullptr, wanted.c_str());
        if (!m_service && m_options.service.rfind(kHostWindowPrefix, 0) == 0) {
            wanted = m_options.service;
            m_service = FindWindowA(nullptr, wanted.c_str());
        }
        if (!m_service)
            std::fprintf(stderr, "korvane partner: no service %s is running\n", wanted.c_str());
        return m_service != nullptr;
    }
    std::vector<std::string> running;
    EnumWindowNames(kHostWindowPrefix, CollectName, &running);
    if (running.size() != 1) {
        if (running.empty())
            std::fputs(
                "korvane partner: no Korvane service is running (start one with 'korvane serve')\n",
                stderr);
        else
            std::fputs("korvane partner: several services are running; choose one with --service\n",
                       stderr);
        return false;
    }
    m_service = FindWindowA(nullptr, running.front().c_str());
    if (!m_service)
        std::fprintf(stderr, "korvane partner: the service %s went away\n",
                     running.front().c_str());
    return m_service != nullptr;
}

void Session::Drain()
{
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(m_inbox->mutex);
        items.swap(m_inbox->items);
    }
    for (Item& item : items)
        Handle(item);
}

void Session::Handle(Item& item)
{
    if (item.kind != Item::Link || item.event.kind != ConsoleLinkEvent::KeepAlive)
        m_lastActivity = Clock::now();
    switch (item.kind) {
    case Item::Line: {
        std::string line = item.line;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            return;
        Outgoing out;
        out.kind = Outgoing::Command;
        out.line = line;
        m_outgoing.push_back(std::move(out));
        return;
    }
    case Item::InputEnd:
        m_inputDone = true;
        return;
    case Item::Link:
        break;
    }
    const ConsoleLinkEvent& event = item.event;
    if (event.kind == ConsoleLinkEvent::ConsoleData || event.kind == ConsoleLinkEvent::KeepAlive) {
        Outgoing out;
        out.kind =
            event.kind == ConsoleLinkEvent::KeepAlive ? Outgoing::KeepAlive : Outgoing::Console;
        out.octets = event.octets;
        m_outgoing.push_back(std::move(out));
        return;
    }
    m_output.Link(event);
    if (event.kind == ConsoleLinkEvent::GaveUp) {
        std::fprintf(stderr, "korvane partner: the console %s:%u cannot be reached: %s\n",
                     m_options.link.host.c_str(), unsigned(m_options.link.port),
                     event.text.c_str());
        m_failed = true;
    }
}

void Session::SendPending()
{
    while (!m_outgoing.empty() && !m_failed) {
        if (m_serviceFailures && Clock::now() < m_serviceRetryAt)
            return;
        Outgoing& out = m_outgoing.front();
        if (!out.announced) {
            if (out.kind == Outgoing::Command)
                m_output.Command(out.line);
            else if (out.kind == Outgoing::Console)
                m_output.ConsoleData(out.octets.size());
            else
                m_output.ConsoleKeepAlive();
            out.announced = true;
        }
        COPYDATASTRUCT block = {};
        if (out.kind == Outgoing::Command) {
            block.dwData = MakeDwData(BLOCK_COMMAND, 0);
            block.cbData = DWORD(out.line.size() + 1);
            block.lpData = const_cast<char*>(out.line.c_str());
        } else {
            block.dwData = MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(out.octets.size()));
            block.cbData = DWORD(out.octets.size());
            block.lpData = out.octets.data();
        }
        // Bounded: a service that does not answer fails the send; what it sends
        // back meanwhile is handled inside the wait.
        SetLastError(ERROR_SUCCESS);
        DWORD_PTR answer = 0;
        const bool delivered =
            SendMessageTimeoutA(m_service, WM_COPYDATA, reinterpret_cast<WPARAM>(m_self),
                                reinterpret_cast<LPARAM>(&block), SMTO_NORMAL,
                                UINT(GetSendTimeout()), &answer) != 0;
        DWORD error = delivered ? ERROR_SUCCESS : GetLastError();
        if (!delivered && error == ERROR_SUCCESS)
            error = ERROR_TIMEOUT;
        if (out.kind != Outgoing::KeepAlive)
            m_lastActivity = Clock::now();
        if (error == ERROR_TIMEOUT) {
            // It may have been handled: sending it again could feed it twice.
            m_output.Service("timeout",
                             "the service did not answer in time; the block is not sent again");
        } else if (error != ERROR_SUCCESS) {
            ++m_serviceFailures;
            if (m_serviceFailures > m_options.link.retries) {
                m_output.Service("gave-up", std::string("giving up: ") + GetMessageLayerError());
                std::fputs("korvane partner: the service does not take blocks any more\n", stderr);
                m_failed = true;
                return;
            }
            int delay = m_options.link.firstBackoffMs;
            for (int i = 1; i < m_serviceFailures && delay < m_options.link.maxBackoffMs; ++i)
                delay *= 2;
            delay = std::min(delay, m_options.link.maxBackoffMs);
            m_output.Service("unreachable", std::string("the service did not take the block (") +
                                                GetWindowName(m_service) + "); attempt " +
                                                std::to_string(m_serviceFailures) + ", next in " +
                                                std::to_string(delay) + " ms");
            m_serviceRetryAt = Clock::now() + std::chrono::milliseconds(delay);
            return;
        } else if (m_serviceFailures) {
            m_serviceFailures = 0;
            m_output.Service("reachable", "the service takes blocks again");
        }
        if (out.kind == Outgoing::Command && delivered && answer == 0)
            m_output.NoValue(out.line);
        m_outgoing.pop_front();
    }
}

int Session::Run()
{
    m_self = CreateMessageWindow(m_options.name.c_str(), Procedure);
    if (!m_self) {
        std::fprintf(stderr, "korvane partner: cannot open the endpoint %s: %s\n",
                     m_options.name.c_str(), GetMessageLayerError());
        return 1;
    }
    g_session = this;
    if (!FindService()) {
        DestroyWindow(m_self);
        g_session = nullptr;
        return 1;
    }
    for (const std::string& command : m_options.commands) {
        Item item;
        item.kind = Item::Line;
        item.line = command;
        Handle(item);
    }
    const bool untilStopped = m_options.commands.empty() && !m_options.readStdin;
    m_inputDone = !m_options.readStdin;
    if (m_options.readStdin) {
        std::thread([inbox = m_inbox] {
            std::string line;
            while (std::getline(std::cin, line)) {
                Item item;
                item.kind = Item::Line;
                item.line = line;
                inbox->Push(std::move(item));
            }
            Item end;
            end.kind = Item::InputEnd;
            inbox->Push(std::move(end));
        }).detach();
    }
    m_link.Start([inbox = m_inbox](const ConsoleLinkEvent& event) {
        Item item;
        item.kind = Item::Link;
        item.event = event;
        inbox->Push(std::move(item));
    });

    g_stop.store(0);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    for (;;) {
        Drain();
        SendPending();
        if (g_stop.load() || m_failed)
            break;
        const auto now = Clock::now();
        const auto quiet = std::chrono::milliseconds(m_options.waitMs);
        if (!untilStopped && m_inputDone && m_outgoing.empty() && m_link.PendingWrites() == 0 &&
            now - m_lastActivity >= quiet)
            break;
        auto until = m_lastActivity + quiet;
        if (!m_outgoing.empty() && m_serviceFailures)
            until = m_serviceRetryAt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        RunMessageLoop(int(std::clamp<int64_t>(left, 1, 1000)));
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_link.Stop();
    DestroyWindow(m_self);
    g_session = nullptr;
    std::fflush(stdout);
    return m_failed ? 1 : 0;
}

} // namespace

int RunPartnerLink(const PartnerLinkOptions& options)
{
    Session session(options);
    return session.Run();
}
