// The link's loop: the console's thread and a standard-input thread leave
// their items in an inbox and wake the message loop; the thread that runs
// Run() alone talks to the service.
#include "partner/partner_link.h"

#include "partner/console_link.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

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
    // Why a send was stopped ("" if it was not).
    std::string stopped;
};

// Where the other threads leave their items; shared with them, since the
// standard-input thread may outlive the link.
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
        CPartnerSession::Wake();
    }
};

// The link Run() runs now, for the signal handler.
std::atomic<CPartnerLink*> g_signalled{nullptr};

void OnStopSignal(int)
{
    if (CPartnerLink* link = g_signalled.load())
        link->Stop();
}

std::string TrimLine(std::string line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

} // namespace

class CPartnerLink::Impl
{
public:
    explicit Impl(CPartnerLinkOptions options) : m_options(std::move(options)) {}

    EPartnerStatus Run(CPartnerLink& owner);
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
    void QueueLine(const std::string& raw);
    void Drain();
    void Handle(Item& item);
    void SendPending();
    void OnServiceEvent(const CPartnerEvent& event);
    int Backoff(int attempt) const;
    EPartnerStatus Fail(EPartnerStatus status, std::string reason)
    {
        m_error = std::move(reason);
        return status;
    }

    CPartnerLinkOptions m_options;
    EventHandler m_handler;
    CPartnerSession m_session;
    std::unique_ptr<CConsoleLink> m_link;
    std::shared_ptr<Inbox> m_inbox = std::make_shared<Inbox>();
    std::deque<Outgoing> m_outgoing;
    // The command line (or "") behind each block queued for the console and
    // not yet written, oldest first; the line being sent now.
    std::deque<std::string> m_consoleOrigins;
    std::string m_sending;
    std::atomic<size_t> m_queuedOctets{0};
    std::atomic<size_t> m_queuedBlocks{0};
    std::atomic<bool> m_stop{false};
    std::string m_error;
    bool m_inputDone = true;
    EPartnerStatus m_failure = EPartnerStatus::Ok;
    int m_serviceFailures = 0;
    Clock::time_point m_serviceRetryAt{};
    Clock::time_point m_lastActivity = Clock::now();
};

int CPartnerLink::Impl::Backoff(int attempt) const
{
    int64_t delay = m_options.firstBackoffMs;
    for (int i = 1; i < attempt && delay < m_options.maxBackoffMs; ++i)
        delay *= 2;
    return int(std::min<int64_t>(delay, m_options.maxBackoffMs));
}

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

void CPartnerLink::Impl::QueueLine(const std::string& raw)
{
    const std::string line = TrimLine(raw);
    if (line.empty() || line[0] == '#')
        return;
    Outgoing out;
    out.kind = Outgoing::Command;
    out.line = line;
    m_outgoing.push_back(std::move(out));
    ++m_queuedBlocks;
}

void CPartnerLink::Impl::Drain()
{
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(m_inbox->mutex);
        items.swap(m_inbox->items);
    }
    for (Item& item : items)
        Handle(item);
}

void CPartnerLink::Impl::Handle(Item& item)
{
    if (item.kind != Item::Link || item.event.kind != ConsoleLinkEvent::KeepAlive)
        m_lastActivity = Clock::now();
    switch (item.kind) {
    case Item::Line:
        QueueLine(item.line);
        return;
    case Item::InputEnd:
        m_inputDone = true;
        return;
    case Item::Link:
        break;
    }
    ConsoleLinkEvent& event = item.event;
    CPartnerLinkEvent out;
    out.text = event.text;
    out.attempt = event.attempt;
    out.retryInMs = event.retryInMs;
    out.count = event.count;
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
    case ConsoleLinkEvent::Connected:
        out.kind = CPartnerLinkEvent::Connected;
        break;
    case ConsoleLinkEvent::Lost:
        out.kind = CPartnerLinkEvent::Lost;
        break;
    case ConsoleLinkEvent::Failed:
        out.kind = CPartnerLinkEvent::Failed;
        break;
    case ConsoleLinkEvent::GaveUp:
        out.kind = CPartnerLinkEvent::GaveUp;
        m_failure = Fail(EPartnerStatus::LinkGaveUp, "the console " + m_options.host + ":" +
                                                         std::to_string(m_options.port) +
                                                         " cannot be reached: " + event.text);
        break;
    case ConsoleLinkEvent::Dropped:
        out.kind = CPartnerLinkEvent::Dropped;
        break;
    }
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
            if (m_options.retries > 0 && m_serviceFailures > m_options.retries) {
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
        }
        --m_queuedBlocks;
        m_outgoing.pop_front();
    }
}

EPartnerStatus CPartnerLink::Impl::Run(CPartnerLink& owner)
{
    m_stop.store(false);
    CPartnerSession::ResumeSends();
    m_failure = EPartnerStatus::Ok;
    m_error.clear();
    if (m_options.retries < 0 || m_options.firstBackoffMs < 1 ||
        m_options.maxBackoffMs < m_options.firstBackoffMs || m_options.stallTimeoutMs < 1 ||
        m_options.quietMs < 0 || m_options.maxQueuedOctets == 0)
        return Fail(EPartnerStatus::InvalidArgument, "bad link options");
    m_session.SetEventHandler([this](const CPartnerEvent& event) { OnServiceEvent(event); });
    const EPartnerStatus opened = m_session.Open(m_options.session);
    if (opened != EPartnerStatus::Ok)
        return Fail(opened, m_session.LastError());
    // The loop's wake-up must exist before another thread asks for it.
    m_session.Wait(0);

    const bool untilStopped = m_outgoing.empty() && !m_options.readStandardInput;
    m_inputDone = !m_options.readStandardInput;
    if (m_options.readStandardInput) {
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
    ConsoleLinkOptions linkOptions;
    linkOptions.host = m_options.host;
    linkOptions.port = m_options.port;
    linkOptions.retries = m_options.retries;
    linkOptions.firstBackoffMs = m_options.firstBackoffMs;
    linkOptions.maxBackoffMs = m_options.maxBackoffMs;
    linkOptions.stallTimeoutMs = m_options.stallTimeoutMs;
    linkOptions.maxUnconsumedOctets = m_options.maxQueuedOctets;
    m_link = std::make_unique<CConsoleLink>(linkOptions);
    m_link->Start([inbox = m_inbox](const ConsoleLinkEvent& event) {
        Item item;
        item.kind = Item::Link;
        item.event = event;
        inbox->Push(std::move(item));
    });

    void (*previousInt)(int) = SIG_DFL;
    void (*previousTerm)(int) = SIG_DFL;
    if (m_options.stopOnSignals) {
        g_signalled.store(&owner);
        previousInt = std::signal(SIGINT, OnStopSignal);
        previousTerm = std::signal(SIGTERM, OnStopSignal);
    }
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
        if (!untilStopped && m_inputDone && m_outgoing.empty() && m_link->PendingWrites() == 0 &&
            now - m_lastActivity >= quiet)
            break;
        auto until = m_lastActivity + quiet;
        if (!m_outgoing.empty() && m_serviceFailures)
            until = m_serviceRetryAt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        m_session.Wait(int(std::clamp<int64_t>(left, 1, kStopLatencyMs)));
    }
    if (m_options.stopOnSignals) {
        std::signal(SIGINT, previousInt);
        std::signal(SIGTERM, previousTerm);
        g_signalled.store(nullptr);
    }
    m_link->Stop();
    // Lines whose encoded message never reached the console, then lines that
    // never reached the service.
    while (m_consoleOrigins.size() > m_link->PendingWrites())
        m_consoleOrigins.pop_front();
    for (const std::string& line : m_consoleOrigins) {
        if (line.empty())
            continue;
        CPartnerLinkEvent event;
        event.kind = CPartnerLinkEvent::NotSent;
        event.line = line;
        event.text = "its message did not reach the console";
        Emit(event);
    }
    m_consoleOrigins.clear();
    for (const Outgoing& out : m_outgoing) {
        if (out.kind != Outgoing::Command)
            continue;
        CPartnerLinkEvent event;
        event.kind = CPartnerLinkEvent::NotSent;
        event.line = out.line;
        event.text = out.stopped.empty() ? "not sent to the service" : out.stopped;
        Emit(event);
    }
    m_outgoing.clear();
    m_queuedOctets = 0;
    m_queuedBlocks = 0;
    m_link.reset();
    m_session.Close();
    CPartnerSession::ResumeSends();
    if (m_failure != EPartnerStatus::Ok)
        return m_failure;
    return m_stop.load() ? EPartnerStatus::Stopped : EPartnerStatus::Ok;
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
    m_impl->QueueLine(line);
}

EPartnerStatus CPartnerLink::Run()
{
    return m_impl->Run(*this);
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
