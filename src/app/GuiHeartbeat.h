#pragma once

#include <chrono>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace vd {

// Notices when the GUI thread was kept from its event loop. A timer on that thread ticks every
// `interval`; a tick that comes late by `threshold` or more means the thread was held that long
// (a slow slot, a blocking call), and that is logged as "GUI thread stalled for N ms", the
// lateness in milliseconds. A frozen window leaves no other trace, so long runs and soak tests
// read these lines. Created on the GUI thread; ticks from construction on.
class GuiHeartbeat : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kInterval{100};
    static constexpr std::chrono::milliseconds kThreshold{250};

    explicit GuiHeartbeat(QObject* parent = nullptr);

private:
    void tick();

    QTimer timer_;
    QElapsedTimer sinceLastTick_;
};

} // namespace vd
