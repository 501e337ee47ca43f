#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include <QLabel>
#include <QWidget>

#include "data/VDDataProcesser.h"
#include "platform/NotificationCenter.h"

namespace vd {

// Stands in for a section of the main window until its real views exist: shows the section's
// name and how many records the window's processor holds for it, kept live by the section's
// refresh notification.
class VDSectionPlaceholder : public QWidget {
    Q_OBJECT
public:
    using Counter = std::function<std::size_t(const VDDataProcesser&)>;

    VDSectionPlaceholder(std::string idString, const QString& title, const char* refreshNotification,
                         Counter counter, QWidget* parent = nullptr);
    ~VDSectionPlaceholder() override;

    const std::string& idString() const { return idString_; }
    QString countText() const { return countLabel_->text(); }

private:
    void reload();

    const std::string idString_;
    const Counter counter_;
    QLabel* countLabel_;
    // Refreshes come every second from every window; one queued reload at a time is enough.
    std::atomic<bool> reloadQueued_{false};
    ObservationToken refreshObservation_;
};

} // namespace vd
