#include "VDBaseTunnelListViewController.h"

#include <chrono>
#include <utility>

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDCapturedMessageFetch.h"
#include "VDTunnelTableModel.h"
#include "data/CurlCommand.h"
#include "data/TunnelExchange.h"
#include "data/VDDataManager.h"
#include "data/VDNotifications.h"

namespace vd {
namespace {

// How long a curl command waits for a request body the service has still to send.
constexpr std::chrono::seconds kBodyPatience{5};

// The key equivalent is a capital C: Command (Ctrl here) with Shift.
QKeySequence curlKeys()
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
}

void copyToClipboard(const std::string& text)
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace

VDBaseTunnelListViewController::VDBaseTunnelListViewController(std::string idString, const char* refreshNotification,
                                                               VDListGenerations::Part list, QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      shown_(idString_, {list, VDListGenerations::filters}),
      // Refreshes come on the processor's queue, filter changes on the caller's thread. Every
      // window's processor notifies; this list reloads from its own processor.
      reloads_(this, {refreshNotification, kVDFilterStringChanged}, shown_, [this] { reloadData(); })
{
    setUpTable();
    reloadData();
}

void VDBaseTunnelListViewController::setUpTable()
{
    tableView_ = new VDRecordTableView(VDTunnelColumns::kColumns, this);
    model_ = new VDTunnelTableModel(VDICONImageManager::sharedInstance(), this);
    tableView_->setModel(model_);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!publishing_)
            tableViewRowChangeAction();
    });
    // Only the user's scrolling, by whatever means, starts or stops following the newest rows.
    connect(tableView_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!scrollingItself_)
            following_ = newestEndInView();
    });
    connect(tableView_, &QWidget::customContextMenuRequested, this, &VDBaseTunnelListViewController::openContextMenu);
    // Delete does what the menu's "Kill Connection" does, on the selected active row.
    auto* kill = new QShortcut(QKeySequence(Qt::Key_Delete), tableView_);
    kill->setContext(Qt::WidgetShortcut);
    connect(kill, &QShortcut::activated, this, [this] {
        if (const auto record = selectedRecord(); record && record->status() == TunnelStatus::active)
            closeTunnel(record->id_());
    });
    auto* curl = new QShortcut(curlKeys(), tableView_);
    curl->setContext(Qt::WidgetShortcut);
    connect(curl, &QShortcut::activated, this, &VDBaseTunnelListViewController::tunnelCurlCommand);

    // The scrolling area fills this view; a split view holding the list may allow less.
    setMinimumHeight(400);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tableView_);
}

void VDBaseTunnelListViewController::setBasicDelegate(VDTunnelListDelegate* delegate)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    basicDelegate_ = delegate;
    delegateObject_ = dynamic_cast<QObject*>(delegate);
    delegateIsObject_ = delegateObject_ != nullptr;
}

VDTunnelListDelegate* VDBaseTunnelListViewController::basicDelegate() const
{
    return delegateIsObject_ && !delegateObject_ ? nullptr : basicDelegate_;
}

const TunnelList& VDBaseTunnelListViewController::mainArray() const
{
    return model_->mainArray();
}

const ColumnSortDescriptors& VDBaseTunnelListViewController::sortDescriptors() const
{
    return model_->sortDescriptors();
}

std::shared_ptr<VDDataProcesser> VDBaseTunnelListViewController::processer() const
{
    return VDDataManager::sharedInstance().getProcesserOfId(idString_);
}

void VDBaseTunnelListViewController::reloadData()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!viewAppeared_)
        return;
    // Read before the lists: what is copied below is at least as new.
    const auto generation = shown_.behind();
    if (!generation)
        return;
    const auto source = processer();
    if (!source)
        return;
    publish(model_->sorted(filter_.apply(tunnelsOf(*source), source->filterString(), clientFilterOf(*source))));
    restoreTopRow();
    shown_.shown(*generation);
}

void VDBaseTunnelListViewController::publish(TunnelList rows)
{
    const bool follow = followsNewest_ && following_ && detailTunnelInfoId_ == -1 && newestEnd() != NewestEnd::none;
    const ScrollingItself scrolling(*this);
    {
        const auto place = tableView_->keepPlace();
        publishing_ = true;
        model_->setRows(std::move(rows));
        publishing_ = false;
    }
    reloadTableView();
    if (!follow)
        return;
    // The scroll range must know the new rows before it can reach their end.
    tableView_->doItemsLayout();
    if (newestEnd() == NewestEnd::top)
        tableView_->scrollToTop();
    else
        tableView_->scrollToBottom();
}

VDBaseTunnelListViewController::NewestEnd VDBaseTunnelListViewController::newestEnd() const
{
    const ColumnSortDescriptors& order = model_->sortDescriptors();
    // Unsorted, the rows keep the processor's order, by id.
    if (order.empty())
        return NewestEnd::bottom;
    const ColumnSortDescriptor& primary = order.front();
    if (primary.column != VDTunnelColumns::kId && primary.column != VDTunnelColumns::kDate)
        return NewestEnd::none;
    return primary.ascending ? NewestEnd::bottom : NewestEnd::top;
}

bool VDBaseTunnelListViewController::newestEndInView() const
{
    const QScrollBar* bar = tableView_->verticalScrollBar();
    switch (newestEnd()) {
    case NewestEnd::top: return bar->value() == bar->minimum();
    case NewestEnd::bottom: return bar->value() == bar->maximum();
    case NewestEnd::none: break;
    }
    return false;
}

void VDBaseTunnelListViewController::releaseRows()
{
    const ScrollingItself scrolling(*this);
    if (const auto top = model_->recordAt(tableView_->rowAt(0)))
        topTunnelInfoId_ = top->id_();
    // The selection goes with the rows but the choice stays: the next reload selects the
    // record again, and the pane keeps showing it meanwhile.
    publishing_ = true;
    model_->setRows({});
    publishing_ = false;
    filter_.release();
    shown_.forget();
}

void VDBaseTunnelListViewController::restoreTopRow()
{
    const std::int64_t id = std::exchange(topTunnelInfoId_, -1);
    const int row = id == -1 ? -1 : model_->rowOfKey(id);
    if (row < 0)
        return;
    // The rows have only just come back: the scroll range must know them before it can move.
    const ScrollingItself scrolling(*this);
    tableView_->doItemsLayout();
    tableView_->scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtTop);
}

void VDBaseTunnelListViewController::reloadTableView()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (detailTunnelInfoId_ == -1) {
        collapseDetail();
        return;
    }
    const int row = model_->rowOfKey(detailTunnelInfoId_);
    if (row < 0) {
        detailTunnelInfoId_ = -1;
        collapseDetail();
    } else if (selectedRow() == row) {
        // The selection moved with its record: the pane takes the record's new copy.
        tableViewRowChangeAction();
    } else {
        // Back after the rows were let go: selected again where it is, without scrolling there.
        tableView_->selectRowInPlace(row);
    }
}

void VDBaseTunnelListViewController::collapseDetail()
{
    if (auto* delegate = basicDelegate())
        delegate->collapseDetail();
}

int VDBaseTunnelListViewController::selectedRow() const
{
    const auto selected = tableView_->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

std::shared_ptr<const VDTunnelInfo> VDBaseTunnelListViewController::selectedRecord() const
{
    return model_->recordAt(selectedRow());
}

void VDBaseTunnelListViewController::tableViewRowChangeAction()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto record = selectedRecord();
    if (!record) {
        // The pane stays as it is until the next reload collapses it.
        detailTunnelInfoId_ = -1;
        return;
    }
    auto* delegate = basicDelegate();
    if (record->id_() != detailTunnelInfoId_) {
        detailTunnelInfoId_ = record->id_();
        if (delegate)
            delegate->openDetailFor(record);
    } else if (delegate) {
        delegate->updateDetailFor(record);
    }
}

void VDBaseTunnelListViewController::deSelectTunnel()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    tableView_->clearSelection();
}

void VDBaseTunnelListViewController::killTunnel()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto record = selectedRecord())
        closeTunnel(record->id_());
}

void VDBaseTunnelListViewController::setFilterString()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto record = selectedRecord())
        filterByHost(std::string(record->host()));
}

void VDBaseTunnelListViewController::closeTunnel(std::int64_t tunnelId)
{
    if (const auto source = processer())
        source->requestCloseTunnel(tunnelId);
}

void VDBaseTunnelListViewController::filterByHost(const std::string& host)
{
    if (const auto source = processer())
        source->setFilterString(host);
}

void VDBaseTunnelListViewController::openContextMenu(const QPoint& position)
{
    const QModelIndex index = tableView_->indexAt(position);
    const auto record = model_->recordAt(index.row());
    if (!index.isValid() || !record)
        return;
    // The clicked row becomes the selection (and so the pane's record) before the menu opens.
    tableView_->selectRow(index.row());
    if (contextMenu_)
        contextMenu_->deleteLater();
    contextMenu_ = menuNeedsUpdate(record);
    contextMenu_->popup(tableView_->viewport()->mapToGlobal(position));
}

QMenu* VDBaseTunnelListViewController::menuNeedsUpdate(const std::shared_ptr<const VDTunnelInfo>& tunnel)
{
    auto* menu = new QMenu(this);
    const std::int64_t tunnelId = tunnel->id_();
    const std::string host(tunnel->host());
    if (tunnel->status() == TunnelStatus::active) {
        menu->addAction("Kill Connection", this, [this, tunnelId] { closeTunnel(tunnelId); })->setShortcut(QKeySequence(Qt::Key_Delete));
        menu->addSeparator();
    }
    addCopyItems(*menu, tunnel);
    menu->addSeparator();
    menu->addAction(QString("Set Filter to %1").arg(QString::fromStdString(host)), this, [this, host] { filterByHost(host); });
    return menu;
}

void VDBaseTunnelListViewController::addCopyItems(QMenu& menu, const std::shared_ptr<const VDTunnelInfo>& tunnel)
{
    const auto exchange = TunnelExchange::of(*tunnel);
    QAction* curl = menu.addAction("Copy curl Command", this, &VDBaseTunnelListViewController::tunnelCurlCommand);
    curl->setShortcut(curlKeys());
    curl->setEnabled(exchange.has_value());
    // Without an exchange every text is empty, and so every item disabled.
    const auto copyItem = [&](const char* title, std::string text) {
        menu.addAction(title, this, [text] { copyToClipboard(text); })->setEnabled(!text.empty());
    };
    copyItem("Copy URL", exchange ? exchange->url(*tunnel) : std::string());
    copyItem("Copy Request Headers", exchange ? exchange->requestHead : std::string());
    copyItem("Copy Response Headers", exchange ? exchange->responseHead : std::string());
}

void VDBaseTunnelListViewController::tunnelCurlCommand()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto record = selectedRecord();
    if (!record || !TunnelExchange::of(*record))
        return;
    const auto copy = [record](std::optional<Bytes> captured) {
        if (const auto command = curlCommand(*record, captured))
            copyToClipboard(*command);
    };
    if (!record->hasSend()) {
        copy(std::nullopt);
        return;
    }
    fetchCapturedMessage(this, idString_, record, true, kBodyPatience, copy);
}

void VDBaseTunnelListViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    viewAppeared_ = true;
    if (const auto source = processer())
        viewDidAppear(*source);
}

void VDBaseTunnelListViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    viewAppeared_ = false;
    // A recent list left in another section for an hour would otherwise hold a second list of
    // records the processor has long dropped.
    releaseRows();
}

} // namespace vd
