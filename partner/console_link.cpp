#include "partner/console_link.h"

#include "partner/backoff.h"
#include "partner/console_framer.h"

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
          m_timer(m_io), m_stallTimer(m_io)
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
            m_out.push_back(std::move(octets));
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
        std::error_code failure;
        tcp::resolver resolver(m_io);
        const auto endpoints =
            resolver.resolve(m_options.host, std::to_string(m_options.port), failure);
        if (failure) {
            Retry("cannot resolve " + m_options.host + ": " + failure.message());
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
        std::error_code ignored;
        m_socket.close(ignored);
        m_stallTimer.cancel();
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

    // Writes the first block, a piece at a time, so that a console that
    // stops reading is noticed: no progress for stallTimeoutMs loses the link.
    void Write()
    {
        if (m_writing || !m_connected || m_out.empty())
            return;
        m_writing = true;
        ArmStallTimer();
        WriteSome();
    }

    void WriteSome()
    {
        const uint64_t generation = m_generation;
        const std::vector<uint8_t>& block = m_out.front();
        m_socket.async_write_some(asio::buffer(block.data() + m_written, block.size() - m_written),
                                  [this, generation](std::error_code error, size_t written) {
            if (m_stopped || generation != m_generation || !m_writing)
                return;
            if (error) {
                // The block stays first and goes out whole on the next link.
                Lose(error.message());
                return;
            }
            m_written += written;
            if (m_written < m_out.front().size()) {
                ArmStallTimer();
                WriteSome();
                return;
            }
            m_stallTimer.cancel();
            m_writing = false;
            m_written = 0;
            m_out.pop_front();
            --m_pending;
            Write();
        });
    }

    void ArmStallTimer()
    {
        const uint64_t generation = m_generation;
        m_stallTimer.expires_after(std::chrono::milliseconds(m_options.stallTimeoutMs));
        m_stallTimer.async_wait([this, generation](std::error_code error) {
            if (error || m_stopped || generation != m_generation || !m_writing)
                return;
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
    std::thread m_thread;
    std::function<void(const ConsoleLinkEvent&)> m_onEvent;
    CConsoleFramer m_framer;
    std::array<uint8_t, 65536> m_buffer{};
    std::deque<std::vector<uint8_t>> m_out;
    std::atomic<size_t> m_pending{0};
    std::atomic<size_t> m_unconsumed{0};
    // Octets of the first block written on this connection.
    size_t m_written = 0;
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
