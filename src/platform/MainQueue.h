#pragma once

#include <memory>

#include "DispatchQueue.h"

namespace vd {

// The queue of the main (GUI) thread. The program installs how a task reaches that thread: the
// application posts through its event loop, tests and tools through a MainLoop.
class MainQueue final : public DispatchQueue {
public:
    using Poster = std::function<void(Task)>;

    static std::shared_ptr<MainQueue> shared();

    // Marks the calling thread as the main thread and routes tasks through the poster.
    // Tasks handed in before a poster was installed are passed on now, in order.
    static void install(Poster poster);
    // Forgets the poster; tasks handed in afterwards wait for the next install.
    static void uninstall();

    MainQueue();
    void async(Task task) override;
    bool isCurrent() const override;
};

// Runs at once when called on the main thread, else posts to it.
void runBlockInMainThread(Task task);

} // namespace vd
