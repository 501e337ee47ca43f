#include "DispatchQueue.h"

#include <utility>

#include <asio/post.hpp>

#include "WorkPool.h"

namespace vd {

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label)
{
    return std::make_shared<SerialQueue>(std::move(label));
}

SerialQueue::SerialQueue(std::string label)
    : DispatchQueue(std::move(label)), strand_(asio::make_strand(WorkPool::context()))
{
}

void SerialQueue::async(Task task)
{
    asio::post(strand_, std::move(task));
}

bool SerialQueue::isCurrent() const
{
    return strand_.running_in_this_thread();
}

std::shared_ptr<ConcurrentQueue> ConcurrentQueue::create(std::string label)
{
    return std::make_shared<ConcurrentQueue>(std::move(label));
}

ConcurrentQueue::ConcurrentQueue(std::string label) : DispatchQueue(std::move(label)) {}

namespace {
thread_local const ConcurrentQueue* tRunningConcurrent = nullptr;
}

void ConcurrentQueue::async(Task task)
{
    asio::post(WorkPool::context(), [this, task = std::move(task)] {
        const ConcurrentQueue* outer = std::exchange(tRunningConcurrent, this);
        task();
        tRunningConcurrent = outer;
    });
}

bool ConcurrentQueue::isCurrent() const
{
    return tRunningConcurrent == this;
}

std::shared_ptr<ConcurrentQueue> globalQueue()
{
    static const auto queue = ConcurrentQueue::create("VD.Global.Default");
    return queue;
}

} // namespace vd
