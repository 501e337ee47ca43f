#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <QObject>
#include <QPointer>

#include "data/VDRecordLists.h"

class QAction;
class QWidget;

namespace vd {

class HarExportJob;
struct HarExportResult;
class VDBaseTunnelListViewController;

// File ▸ "Export HAR…" of one main window: the records its shown tunnel list shows now (after
// the filter and the client choice), or only the selected ones when several are selected,
// written to a file the user picks. One export at a time per window; the window stays usable
// meanwhile, and a failure is told in a message box.
class HarExportCommand : public QObject {
public:
    using ShownList = std::function<VDBaseTunnelListViewController*()>;

    HarExportCommand(std::string idString, QWidget* window, ShownList shownList, QObject* parent = nullptr);

    QAction* action() const { return action_; }
    // Enabled while the window shows a tunnel list and no export of its runs.
    void update();
    // Writes the list's records to `target` at once, as confirming the save dialog does.
    void exportTo(const std::filesystem::path& target);

    // The selected records when more than one is selected, else every shown row.
    static TunnelList recordsToExport(const VDBaseTunnelListViewController& list);

private:
    void chooseFile();
    void exported(const HarExportResult& result, const QString& path);

    const std::string idString_;
    QWidget* const window_;
    const ShownList shownList_;
    QAction* const action_;
    QPointer<HarExportJob> job_;
};

} // namespace vd
