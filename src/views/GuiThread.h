#pragma once

#include <utility>

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace vd {

// Runs `work` on the thread of `context`: at once when already there, else queued behind the
// events waiting there. A queued call is dropped when `context` is gone by then, so the caller
// only has to keep `context` alive while it hands the work over (an observer whose token is
// reset in the destructor does).
template <typename Work>
void runOnGuiThread(QObject* context, Work&& work)
{
    if (QThread::currentThread() == context->thread())
        std::forward<Work>(work)();
    else
        QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::QueuedConnection);
}

} // namespace vd
