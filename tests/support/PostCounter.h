#pragma once

#include <atomic>

#include "platform/NotificationCenter.h"

namespace vd::test {

// Counts the posts of one notification of the default centre, from whatever thread they come.
class PostCounter {
public:
    explicit PostCounter(const char* name)
        : token_(NotificationCenter::defaultCenter()->addObserver(name, nullptr, [this](const Notification&) { ++count; }))
    {
    }
    std::atomic<int> count{0};

private:
    ObservationToken token_;
};

} // namespace vd::test
