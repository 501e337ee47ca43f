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

// Never destroyed: while the process exits, the worker pool's last handlers may still hand
// tasks in, and tasks left waiting may hold its sockets, which must not be closed after the
// pool is gone.
MainState& state()
{
    static MainState* const s = new MainState;
    return *s;
}

} // namespace

std::shared_ptr<MainQueue> MainQueue::shared()
{
    static const auto queue = std::make_shared<MainQueue>();
    return queue;
}

MainQueue::MainQueue() : DispatchQueue("VD.Main") {}

// The poster is only ever called with the state lock held: tasks keep their order across an
// install, and once uninstall() returns nobody is inside the old poster. Posters only enqueue,
// so they never come back here.
void MainQueue::install(Poster poster)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.poster = std::move(poster);
    s.mainThread = std::this_thread::get_id();
    for (auto& task : s.waiting)
        s.poster(std::move(task));
    s.waiting.clear();
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
    std::lock_guard lock(s.mutex);
    if (s.poster)
        s.poster(std::move(task));
    else
        s.waiting.push_back(std::move(task));
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
