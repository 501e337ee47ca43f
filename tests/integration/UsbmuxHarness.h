#pragma once

#include <filesystem>
#include <future>
#include <stdexcept>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "UsbmuxSimulator.h"

namespace vd::test {

// The usbmuxd simulator on a thread of its own, as a daemon is a process of its own. Its device
// calls may come from any thread.
class UsbmuxHarness {
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);

public:
    explicit UsbmuxHarness(const std::filesystem::path& socketPath) : simulator(context_, socketPath)
    {
        if (const auto error = simulator.start())
            throw std::runtime_error(*error);
        thread_ = std::thread([this] { context_.run(); });
    }
    ~UsbmuxHarness()
    {
        std::promise<void> stopped;
        asio::post(context_, [&] {
            simulator.stop();
            stopped.set_value();
        });
        stopped.get_future().wait();
        guard_.reset();
        thread_.join();
    }
    sim::UsbmuxSimulator simulator;

private:
    std::thread thread_;
};

} // namespace vd::test
