#pragma once

#include <atomic>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/NotificationCenter.h"

class QObject;

namespace vd {
class VDListPause;
class VDShownGeneration;
}

namespace vd {

// Runs a list's reload on the GUI thread after any of some notifications. The centre delivers
// on the posting thread (the processor's queue) under its own lock, so the observer only queues
// the reload on `context`'s thread; a burst of notifications before it runs costs one reload.
// The queued reload is dropped with `context`. Kept by the list as its last member, so no
// notification reaches a list that is being destroyed.
//
// Every window's processor posts the same names; a notification after which `shown` is still
// current (another window's, or one that changed nothing the list shows) queues nothing.
//
// While the list's window is paused, a reload after a report waits until it resumes; one after
// the filter changed is the user's and runs at once.
class VDReloadObserver {
public:
    VDReloadObserver(QObject* context, std::initializer_list<const char*> names, const VDShownGeneration& shown,
                     std::function<void()> reload);
    ~VDReloadObserver();
    VDReloadObserver(const VDReloadObserver&) = delete;
    VDReloadObserver& operator=(const VDReloadObserver&) = delete;

private:
    void schedule(bool report);
    void holdUntilResumed(VDListPause& pause);

    QObject* const context_;
    const VDShownGeneration& shown_;
    const std::function<void()> reload_;
    std::atomic<bool> queued_{false};
    std::atomic<bool> userChange_{false};
    bool holding_ = false;
    std::vector<ObservationToken> observations_;
};

} // namespace vd
