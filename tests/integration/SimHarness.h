#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <nlohmann/json.hpp>

#include "ServiceSimulator.h"
#include "link/QNComClientManager.h"
#include "link/ServiceContract.h"
#include "support/TempDir.h"

namespace vd::test {

using namespace std::chrono_literals;

// A simulator on a thread of its own, as a service is a process of its own.
class SimulatorThread {
protected:
    // The simulator starts before its thread runs, so a failure is the test's own exception.
    template <typename Simulator>
    void start(Simulator& simulator)
    {
        if (const auto error = simulator.start())
            throw std::runtime_error(*error);
        thread_ = std::thread([this] { context_.run(); });
    }
    // `stop` runs on the thread; `drain` waits for it and for what it leaves pending, otherwise the
    // thread ends at once and what is pending is dropped.
    void end(const std::function<void()>& stop, bool drain)
    {
        std::promise<void> stopped;
        asio::post(context_, [&] {
            stop();
            stopped.set_value();
        });
        if (drain)
            stopped.get_future().wait();
        guard_.reset();
        if (!drain)
            context_.stop();
        thread_.join();
    }

    asio::io_context context_;

private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);
    std::thread thread_;
};

// The service simulator running on its own thread, with its log lines kept for the test.
class SimHarness : SimulatorThread {
public:
    explicit SimHarness(sim::SimulatorOptions options)
        : simulator_(context_, std::move(options), [this](const std::string& line) { record(line); })
    {
        start(simulator_);
    }
    ~SimHarness() { end([this] { simulator_.stop(); }, false); }

    std::uint16_t tcpPort() const { return simulator_.tcpPort(); }
    void closeAllConnections()
    {
        asio::post(context_, [this] { simulator_.closeAllConnections(); });
    }

    // The packets the service received, as logged.
    std::vector<nlohmann::json> received()
    {
        std::vector<nlohmann::json> packets;
        for (const auto& line : lines()) {
            if (line.contains("recv"))
                packets.push_back(line["recv"]);
        }
        return packets;
    }
    std::vector<nlohmann::json> lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool waitForReceived(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return receivedCount_ >= count; });
    }

private:
    void record(const std::string& line)
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(nlohmann::json::parse(line));
        receivedCount_ += lines_.back().contains("recv");
        changed_.notify_all();
    }

    sim::ServiceSimulator simulator_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<nlohmann::json> lines_;
    std::size_t receivedCount_ = 0;
};

// Keeps what a client manager reports through its three callbacks.
class ManagerProbe {
public:
    explicit ManagerProbe(QNComClientManager& manager)
    {
        manager.setConnectCompleteBlock([this] { note([this] { ++completions; }); });
        manager.setDisconnectBlock([this](const LinkEnd& end) { note([&] { ends.push_back(end); }); });
        manager.setReceiveBlock([this](ReceivedPacket& received) {
            note([&] { packets.push_back(received.takePacket().value()); });
        });
    }

    template <typename Predicate>
    bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }

    std::mutex mutex;
    std::condition_variable changed;
    int completions = 0;
    std::vector<LinkEnd> ends;
    std::vector<QNComPacket> packets;

private:
    void note(const std::function<void()>& change)
    {
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }
};

} // namespace vd::test
