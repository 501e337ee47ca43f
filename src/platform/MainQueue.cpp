#include "MainQueue.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace vd {
namespace {

struct MainState {
    std::mutex mutex;
    MainQueue::Poster poster;
    std::deque<Task> waiting;
    std::thread::id mainThread;
};

MainState& state()
{
    static MainState s;
    return s;
}

} // namespace

std::shared_ptr<MainQueue> MainQueue::shared()
{
    static const auto queue = std::make_shared<MainQueue>();
    return queue;
}

MainQueue::MainQueue() : DispatchQueue("VD.Main") {}

void MainQueue::install(Poster poster)
{
    auto& s = state();
    std::deque<Task> waiting;
    {
        std::lock_guard lock(s.mutex);
        s.poster = std::move(poster);
        s.mainThread = std::this_thread::get_id();
        waiting.swap(s.waiting);
    }
    for (auto& task : waiting)
        s.poster(std::move(task));
}

void MainQueue::uninstall()
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.poster = nullptr;
    s.mainThread = {};
}

void MainQueue::async(Task task)
{
    auto& s = state();
    Poster poster;
    {
        std::lock_guard lock(s.mutex);
        if (!s.poster) {
            s.waiting.push_back(std::move(task));
            return;
        }
        poster = s.poster;
    }
    poster(std::move(task));
}

bool MainQueue::isCurrent() const
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.mainThread == std::this_thread::get_id();
}

void runBlockInMainThread(Task task)
{
    auto main = MainQueue::shared();
    if (main->isCurrent())
        task();
    else
        main->async(std::move(task));
}

} // namespace vd
