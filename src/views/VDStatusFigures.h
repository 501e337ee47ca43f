#pragma once

#include <cstddef>
#include <cstdint>

#include <QWidget>

class QLabel;
class QToolButton;

namespace vd {

// The live figures of one main window's service, for its status bar: active connections, the
// shown list's rows, the speeds of the active tunnels, the bytes moved since the window
// connected, and the switch that pauses the window's lists with what it held back meanwhile.
class VDStatusFigures : public QWidget {
    Q_OBJECT
public:
    explicit VDStatusFigures(QWidget* parent = nullptr);

    // The size of the active list and the sums of its tunnels' reported speeds, bytes/s.
    void showActive(std::size_t count, std::int64_t upload, std::int64_t download);
    // Rows shown after the filter, of the rows in the shown list.
    void showRows(std::size_t shown, std::size_t listed);
    void showTotals(std::int64_t sent, std::int64_t received);
    // How many reports arrived since the lists were paused; hidden while they are not.
    void showHeld(bool paused, std::uint64_t reports);

    QToolButton* pauseSwitch() const { return pause_; }

private:
    QLabel* addFigure(const char* objectName, const QString& accessibleName);

    QLabel* active_ = nullptr;
    QLabel* rows_ = nullptr;
    QLabel* speed_ = nullptr;
    QLabel* totals_ = nullptr;
    QLabel* held_ = nullptr;
    QToolButton* pause_ = nullptr;
};

} // namespace vd
