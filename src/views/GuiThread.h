#pragma once

#include <utility>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "platform/ThreadCheck.h"

// Widgets and models belong to the GUI thread: their operations say so at their entry with
// VD_ASSERT_ON_GUI_THREAD(this), which aborts debug builds when called from elsewhere. It asks
// the object's own thread, as Qt's rule for any QObject does, rather than the main queue, which
// tests and tools do not always install (and which would bring the executors into every view).
#ifdef VD_THREAD_CHECKS
#define VD_ASSERT_ON_GUI_THREAD(object)                                                             \
    (QThread::currentThread() == (object)->thread()                                                \
         ? void(0)                                                                                 \
         : ::vd::thread_check::fail("runs on the thread of " #object, __FILE__, __LINE__))
#else
#define VD_ASSERT_ON_GUI_THREAD(object) void(0)
#endif

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
