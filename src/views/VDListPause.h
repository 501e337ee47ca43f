#pragma once

#include <QObject>

namespace vd {

// Whether one main window's lists are frozen. Reports keep arriving and the processor keeps its
// lists; only the lists' reloads after a report wait, until the window resumes. Lives as a direct
// child of the main window, where every list in it finds it.
class VDListPause : public QObject {
    Q_OBJECT
public:
    explicit VDListPause(QObject* window);

    // The pause of the window `widget` is in, if that window has one.
    static VDListPause* of(const QObject* widget);

    bool isPaused() const { return paused_; }
    void setPaused(bool paused);

signals:
    void pausedChanged(bool paused);

private:
    bool paused_ = false;
};

} // namespace vd
