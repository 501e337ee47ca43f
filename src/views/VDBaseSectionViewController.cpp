#include "VDBaseSectionViewController.h"

#include <QHeaderView>
#include <QMenu>
#include <QTreeView>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDFileBrowserReveal.h"
#include "VDListKeys.h"
#include "VDSectionDelegate.h"
#include "data/VDDataManager.h"

namespace vd {
namespace {

constexpr int kIndentation = 16;
constexpr int kMinimumWidth = 150;
constexpr int kMaximumWidth = 500;
constexpr int kShownIconSize = 20;

} // namespace

VDBaseSectionViewController::VDBaseSectionViewController(std::string idString, const VDTunnelVariant& variant, QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      variant_(variant),
      tableView_(new QTreeView(this)),
      menu_(new QMenu(this)),
      shown_(idString_, {variant.list, VDListGenerations::filters}),
      // Posted on the processor's queue, or by a split view on this thread.
      reloads_(this, {variant.refreshNotification}, shown_, [this] { reloadData(); })
{
    setMinimumWidth(kMinimumWidth);
    setMaximumWidth(kMaximumWidth);

    // A source list: no header, no frame, the window's colour, one column as wide as the sidebar.
    tableView_->setModel(&model_);
    tableView_->setAccessibleName("Clients");
    tableView_->setHeaderHidden(true);
    tableView_->header()->setStretchLastSection(true);
    tableView_->setIndentation(kIndentation);
    tableView_->setRootIsDecorated(false);
    // Groups stay open: every reload expands them again, so folding one would not last.
    tableView_->setItemsExpandable(false);
    tableView_->setExpandsOnDoubleClick(false);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setIconSize(QSize(kShownIconSize, kShownIconSize));
    tableView_->setFrameShape(QFrame::NoFrame);
    tableView_->setBackgroundRole(QPalette::Window);
    tableView_->viewport()->setBackgroundRole(QPalette::Window);
    tableView_->setContextMenuPolicy(Qt::CustomContextMenu);
    tableView_->expandAll();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tableView_);

    connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VDBaseSectionViewController::tableViewRowChangeAction);
    connect(tableView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (menuNeedsUpdate(pos))
            menu_->popup(tableView_->viewport()->mapToGlobal(pos));
    });
    addListKeys(*tableView_);

    reloadData();
}

void VDBaseSectionViewController::reloadData()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto generation = shown_.behind();
    if (!generation)
        return;
    // The lists are copied here, on the GUI thread, so they reach the outline together with
    // the redraw that shows them.
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString_);
    ProcessList local;
    ProcessList remote;
    std::string filter = VDSectionOutlineModel::kAllClientsBundleId;
    if (processer) {
        local = ((*processer).*variant_.localProcess)();
        remote = ((*processer).*variant_.remoteProcess)();
        filter = ((*processer).*variant_.filterBundleId)();
    }
    model_.setClients(std::move(local), std::move(remote));
    tableView_->expandAll();
    selectClient(rowOfFilter(filter));
    shown_.shown(*generation);
}

QModelIndex VDBaseSectionViewController::rowOfFilter(const std::string& filter) const
{
    if (filter != VDSectionOutlineModel::kAllClientsBundleId) {
        for (const auto group : {VDSectionOutlineModel::LocalGroup, VDSectionOutlineModel::RemoteGroup}) {
            const auto& clients = model_.clients(group);
            for (std::size_t i = 0; i < clients.size(); ++i) {
                if (clients[i].bundleIdentifier == filter)
                    return model_.clientIndex(group, static_cast<int>(i));
            }
        }
    }
    return model_.clientIndex(VDSectionOutlineModel::AllGroup, 0);
}

void VDBaseSectionViewController::chooseClient(const std::string& key)
{
    reloadData();
    for (const auto group : {VDSectionOutlineModel::LocalGroup, VDSectionOutlineModel::RemoteGroup}) {
        const auto& clients = model_.clients(group);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const VDProcessInfo& client = clients[i];
            if (client.bundleIdentifier.empty() ? client.fromHost == key : client.bundleIdentifier == key) {
                selectClient(model_.clientIndex(group, static_cast<int>(i)));
                return;
            }
        }
    }
    selectClient(model_.clientIndex(VDSectionOutlineModel::AllGroup, 0));
}

void VDBaseSectionViewController::selectClient(const QModelIndex& index)
{
    // Goes through the selection signal like a click, so a fallback to "All Clients" also
    // moves the filter back to all clients.
    tableView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

const VDProcessInfo* VDBaseSectionViewController::selectedProcess() const
{
    const auto rows = tableView_->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : model_.processAt(rows.first());
}

void VDBaseSectionViewController::tableViewRowChangeAction()
{
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString_);
    const VDProcessInfo* process = selectedProcess();
    if (!process) {
        // A click beside the rows empties the selection; the row of the filter in force is
        // what the outline shows, so it comes back.
        if (processer)
            selectClient(rowOfFilter(((*processer).*variant_.filterBundleId)()));
        return;
    }
    if (processer && ((*processer).*variant_.filterBundleId)() == process->bundleIdentifier)
        return;
    if (delegate_) {
        // Copies: the delegate's notification reloads this outline, which may drop the record.
        const std::string name = process->processName;
        const std::string bundleId = process->bundleIdentifier;
        delegate_->selectProcessName(name, bundleId);
    }
}

bool VDBaseSectionViewController::menuNeedsUpdate(const QPoint& pos)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    menu_->clear();
    const QModelIndex index = tableView_->indexAt(pos);
    if (!model_.processAt(index))
        return false;
    selectClient(index);
    // The record is captured now; the outline may be rebuilt while the menu is open.
    const VDProcessInfo* process = model_.processAt(index);
    if (!process || process->processPath.empty())
        return false;
    const VDProcessInfo client = *process;
    menu_->addAction(revealMenuTitle(), this, [this, client] { showProcessLocation(client); });
    menu_->addSeparator();
    // What kind of rule this would create is not decided yet: the item is offered and does nothing.
    menu_->addAction(QString("Add Rule for %1").arg(QString::fromStdString(client.title())));
    return true;
}

void VDBaseSectionViewController::showProcessLocation(const VDProcessInfo& process)
{
    if (!process.processPath.empty())
        revealInFileBrowser(QString::fromStdString(process.processPath));
}

} // namespace vd
