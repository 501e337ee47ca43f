#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <nlohmann/json.hpp>

#include "ServiceSimulator.h"
#include "link/QNComClientManager.h"
#include "link/ServiceContract.h"
#include "support/TempDir.h"

namespace vd::test {

using namespace std::chrono_literals;

// The service simulator running on its own thread, with its log lines kept for the test.
class SimHarness {
public:
    explicit SimHarness(sim::SimulatorOptions options)
        : simulator_(context_, std::move(options), [this](const std::string& line) { record(line); })
    {
        if (const auto error = simulator_.start())
            throw std::runtime_error(*error);
        thread_ = std::thread([this] { context_.run(); });
    }
    ~SimHarness()
    {
        asio::post(context_, [this] { simulator_.stop(); });
        guard_.reset();
        context_.stop();
        thread_.join();
    }

    std::uint16_t tcpPort() const { return simulator_.tcpPort(); }
    void closeAllConnections()
    {
        asio::post(context_, [this] { simulator_.closeAllConnections(); });
    }

    // The packets the service received, as logged.
    std::vector<nlohmann::json> received()
    {
        std::lock_guard lock(mutex_);
        std::vector<nlohmann::json> packets;
        for (const auto& line : lines_) {
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
        return changed_.wait_for(lock, timeout, [&] { return receivedCountLocked() >= count; });
    }

private:
    std::size_t receivedCountLocked() const
    {
        std::size_t count = 0;
        for (const auto& line : lines_)
            count += line.contains("recv");
        return count;
    }
    void record(const std::string& line)
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(nlohmann::json::parse(line));
        changed_.notify_all();
    }

    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);
    sim::ServiceSimulator simulator_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<nlohmann::json> lines_;
};

// Keeps what a client manager reports through its three callbacks.
class ManagerProbe {
public:
    explicit ManagerProbe(QNComClientManager& manager)
    {
        manager.setConnectCompleteBlock([this] {
            std::lock_guard lock(mutex);
            ++completions;
            changed.notify_all();
        });
        manager.setDisconnectBlock([this](const std::optional<std::string>& error) {
            std::lock_guard lock(mutex);
            disconnects.push_back(error);
            changed.notify_all();
        });
        manager.setReceiveBlock([this](const ReceivedPacket& received) {
            std::lock_guard lock(mutex);
            packets.push_back(received.packet());
            changed.notify_all();
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
    std::vector<std::optional<std::string>> disconnects;
    std::vector<QNComPacket> packets;
};

} // namespace vd::test
