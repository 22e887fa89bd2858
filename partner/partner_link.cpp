// The link's loop: the console's thread and the threads that add command
// lines leave their items in an inbox and wake the message loop; the thread
// that runs Run() alone talks to the service.
#include "partner/partner_link.h"

#include "partner/command_input.h"
#include "partner/console_link.h"
#include "protocol/backoff.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// The longest a wait between two looks at the stop flag lasts.
constexpr int kStopLatencyMs = 250;

struct Item
{
    enum Kind
    {
        Link,
        Line,
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
    // Why a send was stopped ("" if it was not).
    std::string stopped;
};

// What a command line counts against the bound: its octets and the link's
// bookkeeping for it.
size_t LineCost(const std::string& line)
{
    return line.size() + sizeof(Item) + sizeof(Outgoing);
}

// Where the other threads leave their items.
struct Inbox
{
    std::mutex mutex;
    std::condition_variable room;
    std::deque<Item> items;
    // Command lines in the inbox or waiting for the service, by LineCost.
    size_t lineCost = 0;
    // EndCommands() was called; Run() has ended.
    bool ended = false;
    bool closed = false;

    void Push(Item item)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (item.kind == Item::Line)
                lineCost += LineCost(item.line);
            items.push_back(std::move(item));
        }
        CPartnerSession::Wake();
    }
};

} // namespace

class CPartnerLink::Impl
{
public:
    explicit Impl(CPartnerLinkOptions options) : m_options(std::move(options)) {}

    EPartnerStatus Run();
    EPartnerStatus Loop();
    void Emit(const CPartnerLinkEvent& event)
    {
        if (m_handler)
            m_handler(event);
    }
    void Emit(CPartnerLinkEvent::Kind kind, std::string text = {})
    {
        CPartnerLinkEvent event;
        event.kind = kind;
        event.text = std::move(text);
        Emit(event);
    }
    bool AddLine(std::string line, bool wait, bool bounded);
    void LineDone(const std::string& line);
    void Drain();
    void Handle(Item& item);
    void SendPending();
    void OnServiceEvent(const CPartnerEvent& event);
    int Backoff(int attempt) const
    {
        return BackoffDelayMs(m_options.console.firstBackoffMs, m_options.console.maxBackoffMs,
                              attempt);
    }
    void NotDelivered(const std::string& line, const std::string& why)
    {
        CPartnerLinkEvent event;
        event.kind = CPartnerLinkEvent::NotSent;
        event.line = line;
        event.text = why;
        Emit(event);
    }
    EPartnerStatus Fail(EPartnerStatus status, std::string reason)
    {
        m_error = std::move(reason);
        return status;
    }

    CPartnerLinkOptions m_options;
    EventHandler m_handler;
    CPartnerSession m_session;
    std::unique_ptr<CConsoleLink> m_link;
    Inbox m_inbox;
    std::deque<Outgoing> m_outgoing;
    // The command line (or "") behind each block queued for the console and
    // not yet written, oldest first; the line being sent now.
    std::deque<std::string> m_consoleOrigins;
    std::string m_sending;
    std::atomic<size_t> m_queuedOctets{0};
    std::atomic<size_t> m_queuedBlocks{0};
    std::atomic<bool> m_stop{false};
    std::string m_error;
    bool m_ran = false;
    bool m_inputDone = false;
    // Lines the service did not answer in time, with why, in order.
    std::vector<std::pair<std::string, std::string>> m_timedOut;
    std::string m_timeoutError;
    EPartnerStatus m_failure = EPartnerStatus::Ok;
    int m_serviceFailures = 0;
    Clock::time_point m_serviceRetryAt{};
    Clock::time_point m_lastActivity = Clock::now();
};

void CPartnerLink::Impl::OnServiceEvent(const CPartnerEvent& event)
{
    // Keep-alive echoes come and go all the time; they do not keep the
    // link from ending.
    if (event.kind != CPartnerEvent::KeepAliveEcho)
        m_lastActivity = Clock::now();
    if ((event.kind == CPartnerEvent::Encoded || event.kind == CPartnerEvent::KeepAliveEcho) &&
        m_link) {
        m_link->Send(event.octets);
        m_consoleOrigins.push_back(event.kind == CPartnerEvent::Encoded ? m_sending : "");
    }
    CPartnerLinkEvent out;
    out.kind = CPartnerLinkEvent::Service;
    out.service = event;
    Emit(out);
}

bool CPartnerLink::Impl::AddLine(std::string line, bool wait, bool bounded)
{
    if (!TakeCommandLine(line))
        return true;
    {
        std::unique_lock<std::mutex> lock(m_inbox.mutex);
        const auto full = [&] {
            return bounded && m_inbox.lineCost > 0 &&
                   m_inbox.lineCost + LineCost(line) > m_options.maxQueuedOctets;
        };
        // Stop() may come from a signal handler, which cannot notify: look
        // at the flag now and then.
        while (wait && full() && !m_inbox.closed && !m_stop.load())
            m_inbox.room.wait_for(lock, std::chrono::milliseconds(50));
        if (bounded && (m_inbox.closed || m_stop.load() || full()))
            return false;
        m_inbox.lineCost += LineCost(line);
        Item item;
        item.kind = Item::Line;
        item.line = std::move(line);
        m_inbox.items.push_back(std::move(item));
    }
    ++m_queuedBlocks;
    CPartnerSession::Wake();
    return true;
}

void CPartnerLink::Impl::LineDone(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_inbox.mutex);
    m_inbox.lineCost -= std::min(m_inbox.lineCost, LineCost(line));
    // Wake a waiting reader only once half the bound is free again.
    if (m_inbox.lineCost <= m_options.maxQueuedOctets / 2)
        m_inbox.room.notify_all();
}

void CPartnerLink::Impl::Drain()
{
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(m_inbox.mutex);
        items.swap(m_inbox.items);
        // Every line added before EndCommands() is in `items`.
        m_inputDone = m_inbox.ended;
    }
    for (Item& item : items)
        Handle(item);
}

void CPartnerLink::Impl::Handle(Item& item)
{
    if (item.kind != Item::Link || item.event.kind != ConsoleLinkEvent::KeepAlive)
        m_lastActivity = Clock::now();
    if (item.kind == Item::Line) {
        Outgoing out;
        out.kind = Outgoing::Command;
        out.line = std::move(item.line);
        m_outgoing.push_back(std::move(out));
        return;
    }
    ConsoleLinkEvent& event = item.event;
    CPartnerLinkEvent out;
    out.kind = CPartnerLinkEvent::Console;
    switch (event.kind) {
    case ConsoleLinkEvent::ConsoleData:
    case ConsoleLinkEvent::KeepAlive: {
        Outgoing block;
        block.kind =
            event.kind == ConsoleLinkEvent::KeepAlive ? Outgoing::KeepAlive : Outgoing::Console;
        block.octets = std::move(event.octets);
        m_queuedOctets += block.octets.size();
        ++m_queuedBlocks;
        m_outgoing.push_back(std::move(block));
        return;
    }
    case ConsoleLinkEvent::GaveUp:
        m_failure = Fail(EPartnerStatus::LinkGaveUp, "the console " + m_options.console.host + ":" +
                                                         std::to_string(m_options.console.port) +
                                                         " cannot be reached: " + event.text);
        break;
    case ConsoleLinkEvent::Lost:
        // At the end, with every line sent, what the console did not take
        // stays undelivered: the link ends instead of trying for ever.
        if (!m_options.untilStopped && m_inputDone && m_link->PendingWrites() > 0 &&
            std::none_of(m_outgoing.begin(), m_outgoing.end(),
                         [](const Outgoing& o) { return o.kind == Outgoing::Command; }))
            m_failure =
                Fail(EPartnerStatus::LinkGaveUp, "the console " + m_options.console.host + ":" +
                                                     std::to_string(m_options.console.port) +
                                                     " did not take every message: " + event.text);
        break;
    case ConsoleLinkEvent::Connected:
    case ConsoleLinkEvent::Failed:
    case ConsoleLinkEvent::Dropped:
        break;
    }
    out.console = std::move(event);
    Emit(out);
}

void CPartnerLink::Impl::SendPending()
{
    while (!m_outgoing.empty() && m_failure == EPartnerStatus::Ok && !m_stop.load()) {
        if (m_serviceFailures && Clock::now() < m_serviceRetryAt)
            return;
        Outgoing& out = m_outgoing.front();
        if (!out.announced) {
            CPartnerLinkEvent event;
            if (out.kind == Outgoing::Command) {
                event.kind = CPartnerLinkEvent::CommandSent;
                event.line = out.line;
            } else if (out.kind == Outgoing::Console) {
                event.kind = CPartnerLinkEvent::ConsoleSent;
                event.count = out.octets.size();
            } else {
                event.kind = CPartnerLinkEvent::KeepAliveSent;
                event.count = out.octets.size();
            }
            Emit(event);
            out.announced = true;
        }
        m_sending = out.kind == Outgoing::Command ? out.line : std::string();
        const EPartnerStatus status =
            out.kind == Outgoing::Command
                ? m_session.SendCommand(out.line)
                : m_session.SendConsoleBlock(out.octets.data(), out.octets.size());
        m_sending.clear();
        if (status == EPartnerStatus::Stopped) {
            out.stopped = m_session.LastError();
            return;
        }
        if (out.kind != Outgoing::KeepAlive)
            m_lastActivity = Clock::now();
        if (status == EPartnerStatus::SendFailed) {
            ++m_serviceFailures;
            if (m_options.console.retries > 0 && m_serviceFailures > m_options.console.retries) {
                m_failure =
                    Fail(EPartnerStatus::SendFailed,
                         "the service does not take blocks any more: " + m_session.LastError());
                Emit(CPartnerLinkEvent::ServiceGaveUp, "giving up: " + m_session.LastError());
                return;
            }
            CPartnerLinkEvent event;
            event.kind = CPartnerLinkEvent::ServiceUnreachable;
            event.attempt = m_serviceFailures;
            event.retryInMs = Backoff(m_serviceFailures);
            event.text = m_session.LastError();
            Emit(event);
            m_serviceRetryAt = Clock::now() + std::chrono::milliseconds(event.retryInMs);
            // A service that restarted may have a new window.
            m_session.FindServiceAgain();
            return;
        }
        if (status == EPartnerStatus::Timeout) {
            // It may have been handled: sending it again could feed it twice.
            Emit(CPartnerLinkEvent::ServiceTimeout,
                 m_session.LastError() + "; the block is not sent again");
            if (out.kind == Outgoing::Command) {
                if (m_timedOut.empty())
                    m_timeoutError = m_session.LastError();
                m_timedOut.emplace_back(out.line,
                                        m_session.LastError() + "; it may have handled it");
            }
        } else if (m_serviceFailures) {
            m_serviceFailures = 0;
            Emit(CPartnerLinkEvent::ServiceReachable, "the service takes blocks again");
        }
        if (status == EPartnerStatus::NoValue) {
            CPartnerLinkEvent event;
            event.kind = CPartnerLinkEvent::NoValue;
            event.line = out.line;
            Emit(event);
        }
        if (out.kind != Outgoing::Command) {
            m_queuedOctets -= out.octets.size();
            m_link->Consumed(out.octets.size());
        } else {
            LineDone(out.line);
        }
        --m_queuedBlocks;
        m_outgoing.pop_front();
    }
}

EPartnerStatus CPartnerLink::Impl::Run()
{
    if (m_ran)
        return Fail(EPartnerStatus::InvalidArgument, "the link has run already");
    m_ran = true;
    m_failure = EPartnerStatus::Ok;
    m_error.clear();
    const ConsoleLinkOptions& console = m_options.console;
    EPartnerStatus status = EPartnerStatus::Ok;
    if (console.retries < 0 || console.firstBackoffMs < 1 ||
        console.maxBackoffMs < console.firstBackoffMs || console.stallTimeoutMs < 1 ||
        m_options.quietMs < 0 || console.maxUnconsumedOctets == 0 || m_options.maxQueuedOctets == 0)
        status = Fail(EPartnerStatus::InvalidArgument, "bad link options");
    if (status == EPartnerStatus::Ok && !m_stop.load()) {
        CPartnerSession::ResumeSends();
        m_session.SetEventHandler([this](const CPartnerEvent& event) { OnServiceEvent(event); });
        const EPartnerStatus opened = m_session.Open(m_options.session);
        if (opened != EPartnerStatus::Ok)
            status = Fail(opened, m_session.LastError());
    }
    if (status == EPartnerStatus::Ok && !m_stop.load())
        status = Loop();
    if (status == EPartnerStatus::Ok && m_stop.load())
        status = EPartnerStatus::Stopped;
    {
        std::lock_guard<std::mutex> lock(m_inbox.mutex);
        m_inbox.closed = true;
        m_inbox.room.notify_all();
    }
    // Lines that never reached the service, also those still in the inbox.
    Drain();
    for (const Outgoing& out : m_outgoing) {
        if (out.kind == Outgoing::Command)
            NotDelivered(out.line, out.stopped.empty() ? "not sent to the service" : out.stopped);
    }
    m_outgoing.clear();
    m_queuedOctets = 0;
    m_queuedBlocks = 0;
    m_session.Close();
    CPartnerSession::ResumeSends();
    if (status == EPartnerStatus::Ok && !m_timedOut.empty())
        status = Fail(EPartnerStatus::Timeout, m_timeoutError);
    return status;
}

EPartnerStatus CPartnerLink::Impl::Loop()
{
    // The loop's wake-up must exist before another thread asks for it.
    m_session.Wait(0);
    m_link = std::make_unique<CConsoleLink>(m_options.console);
    m_link->Start([inbox = &m_inbox](const ConsoleLinkEvent& event) {
        Item item;
        item.kind = Item::Link;
        item.event = event;
        inbox->Push(std::move(item));
    });
    m_lastActivity = Clock::now();
    for (;;) {
        Drain();
        SendPending();
        // The console writes in order: what is left are the newest.
        while (m_consoleOrigins.size() > m_link->PendingWrites())
            m_consoleOrigins.pop_front();
        if (m_stop.load() || m_failure != EPartnerStatus::Ok)
            break;
        const auto now = Clock::now();
        const auto quiet = std::chrono::milliseconds(m_options.quietMs);
        const bool mayEnd = !m_options.untilStopped && m_inputDone && m_outgoing.empty();
        if (mayEnd && m_link->PendingWrites() == 0 && now - m_lastActivity >= quiet)
            break;
        // Lines, console data and stops wake the wait; with no end in sight
        // it only looks at the stop flag now and then. Writes still on their
        // way to the console are watched closely, since the end waits for
        // them.
        auto until = now + std::chrono::milliseconds(kStopLatencyMs);
        if (mayEnd)
            until = m_link->PendingWrites() == 0 ? m_lastActivity + quiet
                                                 : now + std::chrono::milliseconds(1);
        if (!m_outgoing.empty() && m_serviceFailures)
            until = m_serviceRetryAt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        m_session.Wait(int(std::clamp<int64_t>(left, 1, kStopLatencyMs)));
    }
    m_link->Stop();
    // Lines the service did not answer in time, then lines whose encoded
    // message never reached the console.
    for (const auto& [line, why] : m_timedOut)
        NotDelivered(line, why);
    while (m_consoleOrigins.size() > m_link->PendingWrites())
        m_consoleOrigins.pop_front();
    for (const std::string& line : m_consoleOrigins) {
        if (!line.empty())
            NotDelivered(line, "its message did not reach the console");
    }
    m_consoleOrigins.clear();
    // Console events still in the inbox go with the link.
    {
        std::lock_guard<std::mutex> lock(m_inbox.mutex);
        std::erase_if(m_inbox.items, [](const Item& item) { return item.kind == Item::Link; });
    }
    m_link.reset();
    return m_failure;
}

CPartnerLink::CPartnerLink(CPartnerLinkOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options)))
{}

CPartnerLink::~CPartnerLink() = default;

void CPartnerLink::SetEventHandler(EventHandler handler)
{
    m_impl->m_handler = std::move(handler);
}

void CPartnerLink::AddCommand(std::string line)
{
    m_impl->AddLine(std::move(line), false, false);
}

bool CPartnerLink::AddCommandBounded(std::string line)
{
    return m_impl->AddLine(std::move(line), true, true);
}

bool CPartnerLink::TryAddCommand(std::string line)
{
    return m_impl->AddLine(std::move(line), false, true);
}

void CPartnerLink::EndCommands()
{
    {
        std::lock_guard<std::mutex> lock(m_impl->m_inbox.mutex);
        m_impl->m_inbox.ended = true;
    }
    CPartnerSession::Wake();
}

EPartnerStatus CPartnerLink::Run()
{
    return m_impl->Run();
}

void CPartnerLink::Stop()
{
    m_impl->m_stop.store(true);
    CPartnerSession::CancelSends();
    CPartnerSession::Wake();
}

const std::string& CPartnerLink::LastError() const
{
    return m_impl->m_error;
}

size_t CPartnerLink::QueuedOctets() const
{
    return m_impl->m_queuedOctets.load();
}

size_t CPartnerLink::QueuedBlocks() const
{
    return m_impl->m_queuedBlocks.load();
}
