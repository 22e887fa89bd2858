// What the partner library's tests share: a service in this process and a
// console server on a thread of its own.
#pragma once

#include "console/console_simulator.h"
#include "console/net/console_server.h"
#include "console/parameter_store.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "partner/console_link.h"
#include "winapi.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace partner_testing {

// A service in this process: the loopback host behind a window `name`
// that hands every block on to it.
class InProcessService
{
public:
    explicit InProcessService(const std::string& name) : m_host(m_reader)
    {
        m_window = CreateLocalWindow(name.c_str(), Relay);
        if (m_window)
            SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<intptr_t>(this));
    }
    ~InProcessService() { Stop(); }

    bool Ok() const { return m_window && m_host.Ok(); }
    void Stop()
    {
        if (m_window)
            DestroyWindow(m_window);
        m_window = nullptr;
    }

private:
    static LRESULT CALLBACK Relay(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<InProcessService*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!self || message != WM_COPYDATA)
            return DefWindowProcA(window, message, wParam, lParam);
        return SendMessageA(self->m_host.Handle(), message, wParam, lParam);
    }

    CReportReader m_reader;
    CLoopbackHost m_host;
    HWND m_window = nullptr;
};

// A console server running on its own thread until the object goes.
class ServerThread
{
public:
    explicit ServerThread(ConsoleServerOptions options = {})
        : m_server(m_io, m_simulator, WithPort0(options))
    {
        std::string error;
        m_listening = m_server.Listen(error);
        m_port = m_server.LocalPort();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~ServerThread()
    {
        asio::post(m_io, [this] { m_server.Stop(); });
        m_thread.join();
    }

    bool Listening() const { return m_listening; }
    uint16_t Port() const { return m_port; }

private:
    static ConsoleServerOptions WithPort0(ConsoleServerOptions options)
    {
        options.port = 0;
        return options;
    }

    asio::io_context m_io;
    CParameterStore m_store;
    CConsoleSimulator m_simulator{m_store, 7};
    CConsoleServer m_server;
    bool m_listening = false;
    uint16_t m_port = 0;
    std::thread m_thread;
};

// The link's events, kept in order.
class Events
{
public:
    void Add(const ConsoleLinkEvent& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }

    // Waits (bounded) until done holds over the events so far.
    bool WaitFor(const std::function<bool(const std::vector<ConsoleLinkEvent>&)>& done)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(15), [&] { return done(m_events); });
    }

    std::vector<ConsoleLinkEvent> Snapshot()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ConsoleLinkEvent> m_events;
};

inline size_t Count(const std::vector<ConsoleLinkEvent>& events, ConsoleLinkEvent::Kind kind)
{
    return size_t(std::count_if(events.begin(), events.end(),
                                [kind](const auto& e) { return e.kind == kind; }));
}

inline ConsoleLinkOptions LinkTo(uint16_t port, int retries = 10)
{
    ConsoleLinkOptions options;
    options.port = port;
    options.retries = retries;
    options.firstBackoffMs = 20;
    options.maxBackoffMs = 200;
    return options;
}

} // namespace partner_testing
