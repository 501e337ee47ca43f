#include "VDReloadObserver.h"

#include <string_view>
#include <utility>

#include <QMetaObject>
#include <QObject>

#include "VDListPause.h"
#include "VDShownGeneration.h"
#include "data/VDNotifications.h"

namespace vd {

VDReloadObserver::VDReloadObserver(QObject* context, std::initializer_list<const char*> names, const VDShownGeneration& shown,
                                   std::function<void()> reload)
    : context_(context), shown_(shown), reload_(std::move(reload))
{
    const auto center = NotificationCenter::defaultCenter();
    for (const char* name : names) {
        const bool report = std::string_view(name) != kVDFilterStringChanged;
        observations_.push_back(center->addObserver(name, nullptr, [this, report](const Notification&) {
            // Checked on the posting thread: what it posts about was stamped before the post, so
            // a list behind on it is never taken for current.
            if (!shown_.isCurrent())
                schedule(report);
        }));
    }
}

VDReloadObserver::~VDReloadObserver()
{
    // Waits for a delivery running on another thread; none starts afterwards.
    observations_.clear();
}

void VDReloadObserver::schedule(bool report)
{
    if (!report)
        userChange_ = true;
    if (queued_.exchange(true))
        return;
    QMetaObject::invokeMethod(context_, [this] {
        queued_ = false;
        if (!userChange_.exchange(false)) {
            if (VDListPause* pause = VDListPause::of(context_); pause && pause->isPaused()) {
                holdUntilResumed(*pause);
                return;
            }
        }
        reload_();
    }, Qt::QueuedConnection);
}

void VDReloadObserver::holdUntilResumed(VDListPause& pause)
{
    if (std::exchange(holding_, true))
        return;
    QObject::connect(&pause, &VDListPause::pausedChanged, context_, [this] {
        holding_ = false;
        reload_();
    }, Qt::SingleShotConnection);
}

} // namespace vd
