#include "VDReloadObserver.h"

#include <QMetaObject>
#include <QObject>

namespace vd {

VDReloadObserver::VDReloadObserver(QObject* context, std::initializer_list<const char*> names, std::function<void()> reload)
    : context_(context), reload_(std::move(reload))
{
    const auto center = NotificationCenter::defaultCenter();
    for (const char* name : names)
        observations_.push_back(center->addObserver(name, nullptr, [this](const Notification&) { schedule(); }));
}

VDReloadObserver::~VDReloadObserver()
{
    // Waits for a delivery running on another thread; none starts afterwards.
    observations_.clear();
}

void VDReloadObserver::schedule()
{
    if (queued_.exchange(true))
        return;
    QMetaObject::invokeMethod(context_, [this] {
        queued_ = false;
        reload_();
    }, Qt::QueuedConnection);
}

} // namespace vd
