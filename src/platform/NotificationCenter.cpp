#include "NotificationCenter.h"

#include <algorithm>

namespace vd {

struct ObservationToken::Entry {
    std::string name;
    const void* object;
    NotificationCenter::Callback callback;
    // Held while the callback runs: removal waits for a running delivery on another thread,
    // while a callback that drops its own token (same thread) is not blocked.
    std::recursive_mutex running;
    bool alive = true;
};

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter()
{
    static const auto center = create();
    return center;
}

std::shared_ptr<NotificationCenter> NotificationCenter::create()
{
    return std::shared_ptr<NotificationCenter>(new NotificationCenter());
}

ObservationToken NotificationCenter::addObserver(std::string name, const void* object, Callback callback)
{
    auto entry = std::make_shared<ObservationToken::Entry>();
    entry->name = std::move(name);
    entry->object = object;
    entry->callback = std::move(callback);
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
    }
    return ObservationToken(weak_from_this(), std::move(entry));
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<std::shared_ptr<ObservationToken::Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry->name == notification.name && (!entry->object || entry->object == notification.object))
                targets.push_back(entry);
        }
    }
    for (const auto& entry : targets) {
        std::lock_guard running(entry->running);
        if (entry->alive)
            entry->callback(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object, std::any userInfo)
{
    post(Notification{std::move(name), object, std::move(userInfo)});
}

void NotificationCenter::remove(const std::shared_ptr<ObservationToken::Entry>& entry)
{
    {
        std::lock_guard lock(mutex_);
        std::erase(entries_, entry);
    }
    std::lock_guard running(entry->running);
    entry->alive = false;
}

ObservationToken::ObservationToken(std::weak_ptr<NotificationCenter> center, std::shared_ptr<Entry> entry)
    : center_(std::move(center)), entry_(std::move(entry))
{
}

ObservationToken::~ObservationToken()
{
    reset();
}

ObservationToken::ObservationToken(ObservationToken&& other) noexcept
    : center_(std::move(other.center_)), entry_(std::move(other.entry_))
{
}

ObservationToken& ObservationToken::operator=(ObservationToken&& other) noexcept
{
    if (this != &other) {
        reset();
        center_ = std::move(other.center_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void ObservationToken::reset()
{
    if (!entry_)
        return;
    if (auto center = center_.lock())
        center->remove(entry_);
    entry_.reset();
    center_.reset();
}

} // namespace vd
