#pragma once

#include <QListView>

#include "VDTopTalkersModel.h"

namespace vd {

// A small stack of the largest talkers: one row each, a bar behind it as long as its share of
// the first row, its title on the left and its bytes on the right. A click, Return or Space
// on a row chooses it. One Tab stop; the arrows move between rows.
class VDTopTalkersList : public QListView {
    Q_OBJECT
public:
    explicit VDTopTalkersList(const QString& accessibleName, int visibleRows, QWidget* parent = nullptr);

    VDTopTalkersModel& talkers() { return model_; }

signals:
    void chosen(const QString& name);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitRows();
    void choose(const QModelIndex& index);

    const int visibleRows_;

    VDTopTalkersModel model_;
};

} // namespace vd
