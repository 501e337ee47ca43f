#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QSplitter;

namespace vd {

// Remembers a split view's pane sizes in the user defaults under its autosave name: saved a
// moment after the user stops dragging a divider (and when the split view goes away with a
// save pending), restored when asked. Split views with one name share one layout. Kept by the
// split view's owner as a member, so it goes before the splitter does.
class VDSplitAutosave : public QObject {
    Q_OBJECT
public:
    VDSplitAutosave(QSplitter& splitter, QString name);
    ~VDSplitAutosave() override;

    const QString& name() const { return name_; }
    // False when nothing was saved under the name yet (the split view keeps its sizes).
    bool restore();
    // Whether dragging a divider is remembered. A split view turns it off before it folds a pane
    // away (a pending save is written first), so the folded state never becomes the layout.
    void setEnabled(bool enabled);

private:
    void save();

    QSplitter& splitter_;
    const QString name_;
    QTimer pending_;
    bool enabled_ = true;
};

} // namespace vd
