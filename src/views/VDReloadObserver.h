#pragma once

#include <atomic>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/NotificationCenter.h"

class QObject;

namespace vd {

// Runs a list's reload on the GUI thread after any of some notifications. The centre delivers
// on the posting thread (the processor's queue) under its own lock, so the observer only queues
// the reload on `context`'s thread; a burst of notifications before it runs costs one reload.
// The queued reload is dropped with `context`. Kept by the list as its last member, so no
// notification reaches a list that is being destroyed.
class VDReloadObserver {
public:
    VDReloadObserver(QObject* context, std::initializer_list<const char*> names, std::function<void()> reload);
    ~VDReloadObserver();
    VDReloadObserver(const VDReloadObserver&) = delete;
    VDReloadObserver& operator=(const VDReloadObserver&) = delete;

private:
    void schedule();

    QObject* const context_;
    const std::function<void()> reload_;
    std::atomic<bool> queued_{false};
    std::vector<ObservationToken> observations_;
};

} // namespace vd
