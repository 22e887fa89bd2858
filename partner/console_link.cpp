#include "partner/console_link.h"

#include "partner/console_framer.h"
#include "partner/socket_queue.h"
#include "protocol/backoff.h"
#include "protocol/net/resolve.h"

#include <asio/connect.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

using asio::ip::tcp;

class CConsoleLink::Impl
{
public:
    explicit Impl(ConsoleLinkOptions options)
        : m_options(std::move(options)), m_work(asio::make_work_guard(m_io)), m_socket(m_io),
          m_timer(m_io), m_stallTimer(m_io), m_takenTimer(m_io)
    {}

    void Start(std::function<void(const ConsoleLinkEvent&)> onEvent)
    {
        m_onEvent = std::move(onEvent);
        asio::post(m_io, [this] { Connect(); });
        m_thread = std::thread([this] { m_io.run(); });
    }

    void Send(std::vector<uint8_t> octets)
    {
        ++m_pending;
        asio::post(m_io, [this, octets = std::move(octets)]() mutable {
            m_out.push_back({std::move(octets), 0});
            Write();
        });
    }

    size_t PendingWrites() const { return m_pending.load(); }

    size_t Unconsumed() const { return m_unconsumed.load(); }

    bool ReadingPaused() const { return m_readPaused.load(); }

    void Consumed(size_t octets)
    {
        m_unconsumed -= std::min(octets, m_unconsumed.load());
        asio::post(m_io, [this] {
            if (m_readPaused && !m_stopped && m_connected && !OverBound()) {
                m_readPaused = false;
                Read();
            }
        });
    }

    void Stop()
    {
        if (!m_thread.joinable())
            return;
        asio::post(m_io, [this] {
            m_stopped = true;
            std::error_code ignored;
            m_socket.close(ignored);
            m_timer.cancel();
            m_stallTimer.cancel();
            m_takenTimer.cancel();
            m_work.reset();
        });
        m_thread.join();
    }

private:
    void Emit(ConsoleLinkEvent event)
    {
        if (m_onEvent)
            m_onEvent(event);
    }

    int Backoff(int attempt) const
    {
        return BackoffDelayMs(m_options.firstBackoffMs, m_options.maxBackoffMs, attempt);
    }

    void Connect()
    {
        if (m_stopped)
            return;
        std::string failure;
        const std::vector<tcp::endpoint> endpoints =
            ResolveHostPort(m_io, m_options.host, m_options.port, failure);
        if (endpoints.empty()) {
            Retry(failure);
            return;
        }
        asio::async_connect(m_socket, endpoints,
                            [this](std::error_code error, const tcp::endpoint& endpoint) {
            if (m_stopped)
                return;
            if (error) {
                std::error_code ignored;
                m_socket.close(ignored);
                Retry(error.message());
                return;
            }
            std::error_code ignored;
            m_socket.set_option(tcp::no_delay(true), ignored);
            m_failures = 0;
            m_connected = true;
            ++m_generation;
            ConsoleLinkEvent event;
            event.kind = ConsoleLinkEvent::Connected;
            const std::string host = endpoint.address().to_string();
            event.text = (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
                         std::to_string(endpoint.port());
            Emit(event);
            if (OverBound())
                m_readPaused = true;
            else
                Read();
            Write();
        });
    }

    // A connection attempt failed.
    void Retry(const std::string& reason)
    {
        ++m_failures;
        ConsoleLinkEvent event;
        if (m_options.retries > 0 && m_failures > m_options.retries) {
            event.kind = ConsoleLinkEvent::GaveUp;
            event.text = reason + " (" + std::to_string(m_failures) + " attempts in a row failed)";
            m_stopped = true;
            m_work.reset();
            Emit(event);
            return;
        }
        event.kind = ConsoleLinkEvent::Failed;
        event.text = reason;
        event.attempt = m_failures;
        event.retryInMs = Backoff(m_failures);
        Emit(event);
        Wait(event.retryInMs);
    }

    void Wait(int ms)
    {
        m_timer.expires_after(std::chrono::milliseconds(ms));
        m_timer.async_wait([this](std::error_code error) {
            if (!error)
                Connect();
        });
    }

    // The connection broke (read or write).
    void Lose(const std::string& reason)
    {
        if (!m_connected || m_stopped)
            return;
        m_connected = false;
        m_readPaused = false;
        m_writing = false;
        m_written = 0;
        // What the console had not taken goes again, whole, on the next
        // connection.
        m_next = 0;
        m_streamWritten = 0;
        m_stallArmed = false;
        m_lookingForTaken = false;
        std::error_code ignored;
        m_socket.close(ignored);
        m_stallTimer.cancel();
        m_takenTimer.cancel();
        if (const size_t dropped = m_framer.Break()) {
            ConsoleLinkEvent event;
            event.kind = ConsoleLinkEvent::Dropped;
            event.count = dropped;
            Emit(event);
        }
        ConsoleLinkEvent event;
        event.kind = ConsoleLinkEvent::Lost;
        event.text = reason;
        event.retryInMs = Backoff(1);
        Emit(event);
        // The first attempt after a break counts as the first failure's wait.
        Wait(event.retryInMs);
    }

    bool OverBound() const { return m_unconsumed.load() > m_options.maxUnconsumedOctets; }

    void Read()
    {
        const uint64_t generation = m_generation;
        m_socket.async_read_some(asio::buffer(m_buffer),
                                 [this, generation](std::error_code error, size_t got) {
            if (m_stopped || !m_connected || generation != m_generation)
                return;
            if (error) {
                Lose(error == asio::error::eof ? "the console closed the link" : error.message());
                return;
            }
            std::vector<CConsoleFramer::Block> blocks;
            m_framer.Push(m_buffer.data(), got, blocks);
            for (CConsoleFramer::Block& block : blocks) {
                ConsoleLinkEvent event;
                event.kind =
                    block.keepAlive ? ConsoleLinkEvent::KeepAlive : ConsoleLinkEvent::ConsoleData;
                m_unconsumed += block.octets.size();
                event.octets = std::move(block.octets);
                Emit(event);
            }
            // A consumer that falls behind stops the reading; Consumed()
            // starts it again.
            if (OverBound())
                m_readPaused = true;
            else
                Read();
        });
    }

    // Writes the blocks in order, a piece at a time. A block is done once
    // the console took it (the socket's send queue no longer holds it), so
    // that a console that stops reading is noticed: nothing written and
    // nothing taken for stallTimeoutMs loses the link.
    void Write()
    {
        if (!m_connected)
            return;
        if (!m_out.empty() && !m_stallArmed) {
            m_progressAt = std::chrono::steady_clock::now();
            ArmStallTimer(m_options.stallTimeoutMs);
        }
        if (m_writing || m_next >= m_out.size())
            return;
        m_writing = true;
        WriteSome();
    }

    void WriteSome()
    {
        const uint64_t generation = m_generation;
        const std::vector<uint8_t>& block = m_out[m_next].octets;
        m_socket.async_write_some(asio::buffer(block.data() + m_written, block.size() - m_written),
                                  [this, generation](std::error_code error, size_t written) {
            if (m_stopped || generation != m_generation || !m_writing)
                return;
            if (error) {
                Lose(error.message());
                return;
            }
            m_written += written;
            m_streamWritten += written;
            m_progressAt = std::chrono::steady_clock::now();
            if (m_written < m_out[m_next].octets.size()) {
                WriteSome();
                return;
            }
            m_out[m_next].end = m_streamWritten;
            ++m_next;
            m_writing = false;
            m_written = 0;
            CheckTaken();
            Write();
        });
    }

    // Forgets the blocks the console took; looks again soon while some are
    // written and not taken.
    void CheckTaken()
    {
        if (!m_connected)
            return;
        const size_t untaken =
            std::min<uint64_t>(UntakenOctets(uintptr_t(m_socket.native_handle())), m_streamWritten);
        const uint64_t taken = m_streamWritten - untaken;
        bool progress = false;
        while (m_next > 0 && m_out.front().end <= taken) {
            m_out.pop_front();
            --m_next;
            --m_pending;
            progress = true;
        }
        if (progress)
            m_progressAt = std::chrono::steady_clock::now();
        if (m_out.empty()) {
            m_stallArmed = false;
            m_stallTimer.cancel();
        }
        if (m_next == 0 || m_lookingForTaken)
            return;
        m_lookingForTaken = true;
        const uint64_t generation = m_generation;
        m_takenTimer.expires_after(std::chrono::milliseconds(5));
        m_takenTimer.async_wait([this, generation](std::error_code error) {
            m_lookingForTaken = false;
            if (error || m_stopped || generation != m_generation)
                return;
            CheckTaken();
        });
    }

    void ArmStallTimer(int64_t ms)
    {
        m_stallArmed = true;
        const uint64_t generation = m_generation;
        m_stallTimer.expires_after(std::chrono::milliseconds(ms));
        m_stallTimer.async_wait([this, generation](std::error_code error) {
            if (error || m_stopped || generation != m_generation || !m_stallArmed)
                return;
            m_stallArmed = false;
            if (m_out.empty())
                return;
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - m_progressAt)
                                  .count();
            if (idle < m_options.stallTimeoutMs) {
                ArmStallTimer(m_options.stallTimeoutMs - idle);
                return;
            }
            Lose("the console took nothing for " + std::to_string(m_options.stallTimeoutMs) +
                 " ms");
        });
    }

    ConsoleLinkOptions m_options;
    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    tcp::socket m_socket;
    asio::steady_timer m_timer;
    asio::steady_timer m_stallTimer;
    asio::steady_timer m_takenTimer;
    std::thread m_thread;
    std::function<void(const ConsoleLinkEvent&)> m_onEvent;
    CConsoleFramer m_framer;
    std::array<uint8_t, 65536> m_buffer{};
    // Blocks the console has not taken, oldest first; `end`: where the block
    // ends in what this connection wrote (once written).
    struct Block
    {
        std::vector<uint8_t> octets;
        uint64_t end = 0;
    };
    std::deque<Block> m_out;
    std::atomic<size_t> m_pending{0};
    std::atomic<size_t> m_unconsumed{0};
    // The first block not written yet, and its octets written.
    size_t m_next = 0;
    size_t m_written = 0;
    uint64_t m_streamWritten = 0;
    std::chrono::steady_clock::time_point m_progressAt{};
    bool m_stallArmed = false;
    bool m_lookingForTaken = false;
    // Counts connections, so that handlers of a closed one do nothing.
    uint64_t m_generation = 0;
    int m_failures = 0;
    bool m_connected = false;
    bool m_writing = false;
    std::atomic<bool> m_readPaused{false};
    bool m_stopped = false;
};

CConsoleLink::CConsoleLink(ConsoleLinkOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options)))
{}

CConsoleLink::~CConsoleLink()
{
    m_impl->Stop();
}

void CConsoleLink::Start(std::function<void(const ConsoleLinkEvent&)> onEvent)
{
    m_impl->Start(std::move(onEvent));
}

void CConsoleLink::Send(std::vector<uint8_t> octets)
{
    m_impl->Send(std::move(octets));
}

size_t CConsoleLink::PendingWrites() const
{
    return m_impl->PendingWrites();
}

void CConsoleLink::Consumed(size_t octets)
{
    m_impl->Consumed(octets);
}

size_t CConsoleLink::Unconsumed() const
{
    return m_impl->Unconsumed();
}

bool CConsoleLink::ReadingPaused() const
{
    return m_impl->ReadingPaused();
}

void CConsoleLink::Stop()
{
    m_impl->Stop();
}
