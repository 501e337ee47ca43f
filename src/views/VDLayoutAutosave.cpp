#include "VDLayoutAutosave.h"

#include <QHeaderView>
#include <QSplitter>

#include "VDUserDefaults.h"

namespace vd {
namespace {

// A drag moves a divider many times a second; the layout is written once it rests.
constexpr int kSavePauseMs = 300;

} // namespace

VDLayoutAutosave::VDLayoutAutosave(QString name, std::function<QByteArray()> state,
                                   std::function<bool(const QByteArray&)> restoreState)
    : name_(std::move(name)), state_(std::move(state)), restoreState_(std::move(restoreState))
{
    pending_.setSingleShot(true);
    pending_.setInterval(kSavePauseMs);
    connect(&pending_, &QTimer::timeout, this, &VDLayoutAutosave::save);
}

VDLayoutAutosave::VDLayoutAutosave(QSplitter& splitter, QString name)
    : VDLayoutAutosave(
          std::move(name), [&splitter] { return splitter.saveState(); },
          [&splitter](const QByteArray& state) { return splitter.restoreState(state); })
{
    connect(&splitter, &QSplitter::splitterMoved, this, &VDLayoutAutosave::changed);
}

VDLayoutAutosave::VDLayoutAutosave(QHeaderView& header, QString name)
    : VDLayoutAutosave(
          std::move(name), [&header] { return header.saveState(); },
          [&header](const QByteArray& state) { return header.restoreState(state); })
{
    columnCount_ = [&header] { return header.count(); };
    // Hiding or showing a column resizes it too.
    connect(&header, &QHeaderView::sectionResized, this, &VDLayoutAutosave::changed);
    connect(&header, &QHeaderView::sortIndicatorChanged, this, &VDLayoutAutosave::changed);
}

VDLayoutAutosave::~VDLayoutAutosave()
{
    // Its owner keeps it beside the widget and lets it go first, so the widget stands here.
    if (pending_.isActive())
        save();
}

void VDLayoutAutosave::changed()
{
    if (enabled_)
        pending_.start();
}

void VDLayoutAutosave::setEnabled(bool enabled)
{
    if (!enabled && pending_.isActive())
        save();
    enabled_ = enabled;
}

bool VDLayoutAutosave::restore()
{
    const QByteArray state = userDefaults()->value(name_).toByteArray();
    return !state.isEmpty() && restoreState_(state);
}

int VDLayoutAutosave::savedColumnCount() const
{
    return columnCount_ ? userDefaults()->value(columnCountKey()).toInt() : 0;
}

void VDLayoutAutosave::save()
{
    pending_.stop();
    const auto settings = userDefaults();
    settings->setValue(name_, state_());
    if (columnCount_)
        settings->setValue(columnCountKey(), columnCount_());
    syncUserDefaults(*settings);
}

} // namespace vd
