#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QHeaderView;
class QSplitter;

namespace vd {

// Remembers a layout in the user defaults under its autosave name: a split view's pane sizes, or a
// table header's column widths, hidden columns and sort. Saved a moment after the user stops
// changing it (and when it goes away with a save pending), restored when asked. Layouts with one
// name are shared. Kept by the layout's owner as a member, so it goes before the widget does.
class VDLayoutAutosave : public QObject {
    Q_OBJECT
public:
    VDLayoutAutosave(QSplitter& splitter, QString name);
    // Columns resized, hidden or shown, or sorted.
    VDLayoutAutosave(QHeaderView& header, QString name);
    ~VDLayoutAutosave() override;

    const QString& name() const { return name_; }
    // False when nothing usable was saved under the name (the layout stays as it is).
    bool restore();
    // The columns the header had when its layout was saved; 0 when that is not known (a split
    // view, or a layout saved before the count was kept).
    int savedColumnCount() const;
    // Whether changes are remembered. A split view turns it off before it folds a pane away (a
    // pending save is written first), so the folded state never becomes the layout.
    void setEnabled(bool enabled);

private:
    VDLayoutAutosave(QString name, std::function<QByteArray()> state,
                     std::function<bool(const QByteArray&)> restoreState);
    void changed();
    void save();
    QString columnCountKey() const { return name_ + ".columns"; }

    const QString name_;
    const std::function<QByteArray()> state_;
    const std::function<bool(const QByteArray&)> restoreState_;
    std::function<int()> columnCount_;
    QTimer pending_;
    bool enabled_ = true;
};

} // namespace vd
