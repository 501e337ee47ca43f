#include "VDDNSSectionViewController.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDDNSSectionDelegate.h"
#include "VDListKeys.h"

namespace vd {
namespace {

constexpr int kWidth = 200;
constexpr int kMinimumWidth = 150;
constexpr int kMaximumWidth = 500;
constexpr int kIndentation = 16;
// As tall as the rows of the client sidebars, whose icons set their height.
constexpr int kRowHeight = 22;

QStandardItem* groupRow(const QString& title)
{
    auto* group = new QStandardItem(title);
    // Neither selectable nor focusable: the keyboard and the mouse only ever land on an entry.
    group->setFlags(Qt::NoItemFlags);
    QFont font;
    font.setBold(true);
    group->setFont(font);
    // The style's disabled text is too faint for a heading.
    QColor colour = QGuiApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    group->setForeground(colour);
    return group;
}

} // namespace

VDDNSSectionViewController::VDDNSSectionViewController(QWidget* parent) : QWidget(parent), outlineView_(new QTreeView(this))
{
    QStandardItem* group = groupRow("Type");
    group->setSizeHint(QSize(0, kRowHeight));
    // Entry i names the record type i, "All" being 0.
    for (const char* title : {"All", "Config", "System", "Dynamic"}) {
        auto* entry = new QStandardItem(title);
        entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren);
        entry->setSizeHint(QSize(0, kRowHeight));
        group->appendRow(entry);
    }
    model_.appendRow(group);

    // A source list: no header, no frame, the window's colour.
    outlineView_->setModel(&model_);
    outlineView_->setAccessibleName("DNS record types");
    addListKeys(*outlineView_);
    outlineView_->setHeaderHidden(true);
    outlineView_->header()->setStretchLastSection(true);
    outlineView_->setIndentation(kIndentation);
    outlineView_->setRootIsDecorated(false);
    outlineView_->setItemsExpandable(false);
    outlineView_->setExpandsOnDoubleClick(false);
    outlineView_->setSelectionMode(QAbstractItemView::SingleSelection);
    outlineView_->setFrameShape(QFrame::NoFrame);
    outlineView_->setBackgroundRole(QPalette::Window);
    outlineView_->viewport()->setBackgroundRole(QPalette::Window);
    outlineView_->expandAll();

    resize(kWidth, height());
    setMinimumWidth(kMinimumWidth);
    setMaximumWidth(kMaximumWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(outlineView_);

    connect(outlineView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VDDNSSectionViewController::outlineViewSelectionDidChange);
    selectType(0);
}

void VDDNSSectionViewController::selectType(std::uint64_t type)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const QModelIndex entry = model_.index(static_cast<int>(type), 0, model_.index(0, 0));
    if (entry.isValid())
        outlineView_->selectionModel()->setCurrentIndex(entry, QItemSelectionModel::ClearAndSelect);
}

void VDDNSSectionViewController::outlineViewSelectionDidChange()
{
    const auto selected = outlineView_->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        // A click beside the entries leaves the type in force chosen.
        selectType(type_);
        return;
    }
    type_ = static_cast<std::uint64_t>(selected.first().row());
    if (delegate_)
        delegate_->selectDNSType(type_);
}

} // namespace vd
