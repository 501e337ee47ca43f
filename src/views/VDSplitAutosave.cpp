#include "VDSplitAutosave.h"

#include <QSplitter>

#include "VDUserDefaults.h"

namespace vd {
namespace {

// A drag moves the divider many times a second; the layout is written once it rests.
constexpr int kSavePauseMs = 300;

} // namespace

VDSplitAutosave::VDSplitAutosave(QSplitter& splitter, QString name)
    : splitter_(splitter), name_(std::move(name))
{
    pending_.setSingleShot(true);
    pending_.setInterval(kSavePauseMs);
    connect(&pending_, &QTimer::timeout, this, &VDSplitAutosave::save);
    connect(&splitter_, &QSplitter::splitterMoved, this, [this] {
        if (enabled_)
            pending_.start();
    });
}

VDSplitAutosave::~VDSplitAutosave()
{
    // Its owner keeps it beside the splitter and lets it go first, so the splitter stands here.
    if (pending_.isActive())
        save();
}

void VDSplitAutosave::setEnabled(bool enabled)
{
    if (!enabled && pending_.isActive())
        save();
    enabled_ = enabled;
}

bool VDSplitAutosave::restore()
{
    const QByteArray state = userDefaults()->value(name_).toByteArray();
    return !state.isEmpty() && splitter_.restoreState(state);
}

void VDSplitAutosave::save()
{
    pending_.stop();
    const auto settings = userDefaults();
    settings->setValue(name_, splitter_.saveState());
    syncUserDefaults(*settings);
}

} // namespace vd
