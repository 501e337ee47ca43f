#include "GuiHeartbeat.h"

#include <string>

#include "platform/Log.h"

namespace vd {

GuiHeartbeat::GuiHeartbeat(QObject* parent) : QObject(parent)
{
    // A coarse timer may itself fire up to 5 % late; the precise one keeps that noise out of
    // the figure.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kInterval);
    connect(&timer_, &QTimer::timeout, this, &GuiHeartbeat::tick);
    sinceLastTick_.start();
    timer_.start();
}

void GuiHeartbeat::tick()
{
    const std::chrono::milliseconds late{sinceLastTick_.restart() - kInterval.count()};
    if (late >= kThreshold)
        log::error("GUI thread stalled for " + std::to_string(late.count()) + " ms");
}

} // namespace vd
