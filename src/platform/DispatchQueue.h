#pragma once

#include <memory>
#include <string>

#include <asio/io_context.hpp>
#include <asio/strand.hpp>

#include "Task.h"

namespace vd {

// A labelled place where work runs: serial (one task at a time, in order), concurrent, or the
// main thread. Tasks are always run later, never inside async().
class DispatchQueue {
public:
    explicit DispatchQueue(std::string label) : label_(std::move(label)) {}
    virtual ~DispatchQueue() = default;
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    virtual void async(Task task) = 0;
    // True while the calling thread runs a task of this queue.
    virtual bool isCurrent() const = 0;

private:
    std::string label_;
};

// Tasks run one at a time, in the order they were handed in, on the work pool.
class SerialQueue final : public DispatchQueue {
public:
    using Executor = asio::strand<asio::io_context::executor_type>;

    static std::shared_ptr<SerialQueue> create(std::string label);
    explicit SerialQueue(std::string label);

    void async(Task task) override;
    bool isCurrent() const override;
    // Asio objects bound to this executor complete their handlers on this queue.
    const Executor& executor() const { return strand_; }

private:
    Executor strand_;
};

// Tasks run on any worker of the pool, several at once.
class ConcurrentQueue final : public DispatchQueue {
public:
    static std::shared_ptr<ConcurrentQueue> create(std::string label);
    explicit ConcurrentQueue(std::string label);

    void async(Task task) override;
    bool isCurrent() const override;
};

// The shared background queue for work with no queue of its own (default priority).
std::shared_ptr<ConcurrentQueue> globalQueue();

} // namespace vd
