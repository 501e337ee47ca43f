#include "VDDNSListViewController.h"

#include <algorithm>

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDBarIcons.h"
#include "VDTunnelFilter.h"
#include "data/VDDataManager.h"
#include "data/VDNotifications.h"

namespace vd {
namespace {

constexpr int kBarHeight = 30;
// Addresses are drawn 5 below the row's top; as much room is left below them.
constexpr int kRowPadding = 10;

void writeToPasteBoard(const std::string& text)
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

std::string joined(const std::vector<std::string>& ips)
{
    std::string text;
    for (const auto& ip : ips)
        text += (text.empty() ? "" : ", ") + ip;
    return text;
}

} // namespace

VDDNSListViewController::VDDNSListViewController(std::string idString, QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      model_(new Model(this)),
      tableView_(new VDRecordTableView(VDDNSColumns::kColumns, this)),
      shown_(idString_, {VDListGenerations::dns, VDListGenerations::filters}),
      reloads_(this, {kVDFilterStringChanged, kVDDNSRefreshed}, shown_, [this] { reloadData(); })
{
    tableView_->setModel(model_);
    tableView_->setAccessibleName("DNS");
    tableView_->rememberColumnsAs("com.lumenforge.vantordashboard.dns.tableview");
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!publishing_)
            tableViewRowChangeAction();
    });
    connect(tableView_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (section == VDDNSColumns::kIps)
            updateRowHeights();
    });
    // Heights go by row: rows that change or move take the height of what they now show.
    // Both signals come inside the place the table keeps, so the top record stays put.
    connect(model_, &QAbstractItemModel::dataChanged, this, &VDDNSListViewController::updateRowHeights);
    connect(model_, &QAbstractItemModel::layoutChanged, this, &VDDNSListViewController::updateRowHeights);
    connect(tableView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (QMenu* menu = menuNeedsUpdate(tableView_->indexAt(position).row()))
            menu->popup(tableView_->viewport()->mapToGlobal(position));
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tableView_);
    layout->addWidget(makeBottomBar());
}

QWidget* VDDNSListViewController::makeBottomBar()
{
    auto* bar = new QWidget(this);
    bar->setFixedHeight(kBarHeight);
    delButton_ = new QToolButton(bar);
    delButton_->setObjectName("DNSDeleteButton");
    delButton_->setIcon(removeIcon(*delButton_));
    delButton_->setToolTip("Delete DNS Record");
    delButton_->setAccessibleName("Delete DNS Record");
    delButton_->setAutoRaise(true);
    delButton_->setEnabled(false);
    refreshButton_ = new QToolButton(bar);
    refreshButton_->setObjectName("DNSRefreshButton");
    refreshButton_->setIcon(refreshIcon(*refreshButton_));
    refreshButton_->setToolTip("Refresh");
    refreshButton_->setAccessibleName("Refresh");
    refreshButton_->setAutoRaise(true);
    purgeButton_ = new QPushButton("Purge DNS Cache", bar);

    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(5);
    row->addWidget(delButton_, 0, Qt::AlignVCenter);
    row->addWidget(refreshButton_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(purgeButton_, 0, Qt::AlignVCenter);

    connect(delButton_, &QToolButton::clicked, this, &VDDNSListViewController::delAction);
    connect(refreshButton_, &QToolButton::clicked, this, &VDDNSListViewController::refreshAction);
    connect(purgeButton_, &QPushButton::clicked, this, &VDDNSListViewController::purgeAction);
    return bar;
}

std::shared_ptr<VDDataProcesser> VDDNSListViewController::processer() const
{
    return VDDataManager::sharedInstance().getProcesserOfId(idString_);
}

void VDDNSListViewController::reloadData()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto generation = shown_.behind();
    if (!generation)
        return;
    const auto source = processer();
    if (!source)
        return;
    std::vector<VDDNSInfo> rows = source->dnsInfos();
    if (const std::string filter = source->filterString(); !filter.empty()) {
        const std::string needle = foldForSearch(filter);
        std::erase_if(rows, [&](const VDDNSInfo& r) { return foldForSearch(r.domain).find(needle) == std::string::npos; });
    }
    if (filterType_ != 0)
        std::erase_if(rows, [&](const VDDNSInfo& r) { return r.type != DNSType{filterType_}; });
    {
        const auto place = tableView_->keepPlace();
        publishing_ = true;
        model_->setRows(model_->sorted(std::move(rows)));
        publishing_ = false;
    }
    // The selection went with its record, or left with it.
    tableViewRowChangeAction();
    shown_.shown(*generation);
}

void VDDNSListViewController::updateRowHeights()
{
    const int width = tableView_->columnWidth(VDDNSColumns::kIps);
    const auto& rows = model_->mainArray();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        // A name without addresses ("--") keeps the plain row height.
        int height = VDTableCellView::kRowHeight;
        if (!rows[row].ips.empty()) {
            const QString ips = QString::fromStdString(rows[row].ipsString());
            height = std::max(height, VDTableCellView::wrappedTextHeight(tableView_->font(), ips, width) + kRowPadding);
        }
        tableView_->setRowHeight(static_cast<int>(row), height);
    }
}

void VDDNSListViewController::tableViewRowChangeAction()
{
    const auto selected = tableView_->selectionModel()->selectedRows();
    const VDDNSInfo* record = selected.isEmpty() ? nullptr : model_->rowAt(selected.first().row());
    if (!record) {
        selectedDomain_.clear();
        chosen_.reset();
        // Only a chosen dynamic record can be deleted.
        delButton_->setEnabled(false);
        return;
    }
    selectedDomain_ = record->domain;
    chosen_ = *record;
    delButton_->setEnabled(record->type == DNSType::dynamic);
}

void VDDNSListViewController::delAction()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (chosen_ && chosen_->type == DNSType::dynamic)
        removeDomain(chosen_->domain);
}

void VDDNSListViewController::refreshAction()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto source = processer())
        source->refreshDNSRecord();
}

void VDDNSListViewController::purgeAction()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto source = processer())
        source->purgeDNSRecord();
}

void VDDNSListViewController::removeDomain(const std::string& domain)
{
    if (const auto source = processer())
        source->removeDNSRecordOfDomain(domain);
}

void VDDNSListViewController::filterByDomain(const std::string& domain)
{
    if (const auto source = processer())
        source->setFilterString(domain);
}

QMenu* VDDNSListViewController::menuNeedsUpdate(int row)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const VDDNSInfo* shown = model_->rowAt(row);
    if (!shown)
        return nullptr;
    // The record is kept as it is now; a report may replace the rows while the menu is open.
    const VDDNSInfo record = *shown;
    tableView_->selectRow(row);
    if (contextMenu_)
        contextMenu_->deleteLater();
    contextMenu_ = new QMenu(this);
    const QString domain = QString::fromStdString(record.domain);
    if (record.type == DNSType::dynamic) {
        contextMenu_->addAction(QString("Delete DNS Record of %1").arg(domain), this, [this, record] { removeDomain(record.domain); });
        contextMenu_->addSeparator();
    }
    contextMenu_->addAction(QString("Set Filter to %1").arg(domain), this, [this, record] { filterByDomain(record.domain); });
    contextMenu_->addSeparator();
    contextMenu_->addAction("Copy Domain", this, [record] { writeToPasteBoard(record.domain); });
    contextMenu_->addAction("Copy IPs", this, [record] { writeToPasteBoard(joined(record.ips)); });
    contextMenu_->addAction("Copy DNS / DoH", this, [record] { writeToPasteBoard(record.dns); });
    return contextMenu_;
}

void VDDNSListViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (model_->mainArray().empty())
        refreshAction();
    if (const auto source = processer())
        source->autoDNSRefresh(true);
}

void VDDNSListViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (const auto source = processer())
        source->autoDNSRefresh(false);
}

} // namespace vd
