#include "VDSectionOutlineModel.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QPixmap>

#include "GuiThread.h"
#include "data/VDICONImageManager.h"

namespace vd {
namespace {

constexpr double kIconSize = 32;

VDProcessInfo allClients()
{
    VDProcessInfo all;
    all.processName = "All Clients";
    all.bundleIdentifier = VDSectionOutlineModel::kAllClientsBundleId;
    return all;
}

} // namespace

VDSectionOutlineModel::VDSectionOutlineModel(QObject* parent)
    : QAbstractItemModel(parent),
      groups_{{{"All", {allClients()}, {QIcon()}}, {"Local", {}, {}}, {"Remote", {}, {}}}}
{
}

std::vector<QIcon> VDSectionOutlineModel::iconsOf(const ProcessList& clients)
{
    const auto cache = VDICONImageManager::sharedInstance();
    std::vector<QIcon> icons;
    icons.reserve(clients.size());
    for (const auto& client : clients) {
        QIcon icon;
        if (client.bundleIdentifier != kAllClientsBundleId) {
            if (const auto image = cache->loadICONofBundleId(client.bundleIdentifier, kIconSize, kIconSize))
                icon = QIcon(QPixmap::fromImage(*image));
        }
        icons.push_back(std::move(icon));
    }
    return icons;
}

bool VDSectionOutlineModel::sameRows(const GroupRows& shown, const ProcessList& clients, const std::vector<QIcon>& icons)
{
    if (shown.children.size() != clients.size())
        return false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const auto& a = shown.children[i];
        const auto& b = clients[i];
        // The icon cache hands out one image per file and size, so a changed key is a new icon.
        if (a.title() != b.title() || a.bundleIdentifier != b.bundleIdentifier || a.processName != b.processName
            || a.processPath != b.processPath || shown.icons[i].cacheKey() != icons[i].cacheKey())
            return false;
    }
    return true;
}

void VDSectionOutlineModel::setClients(ProcessList localClients, ProcessList remoteClients)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    auto localIcons = iconsOf(localClients);
    auto remoteIcons = iconsOf(remoteClients);
    if (sameRows(groups_[LocalGroup], localClients, localIcons) && sameRows(groups_[RemoteGroup], remoteClients, remoteIcons)) {
        // Same rows; keep the newest records (their fields that are not shown may have moved on).
        groups_[LocalGroup].children = std::move(localClients);
        groups_[RemoteGroup].children = std::move(remoteClients);
        return;
    }
    beginResetModel();
    groups_[LocalGroup].children = std::move(localClients);
    groups_[LocalGroup].icons = std::move(localIcons);
    groups_[RemoteGroup].children = std::move(remoteClients);
    groups_[RemoteGroup].icons = std::move(remoteIcons);
    endResetModel();
}

const VDProcessInfo* VDSectionOutlineModel::processAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() == 0)
        return nullptr;
    const auto& children = groups_[index.internalId() - 1].children;
    return index.row() < static_cast<int>(children.size()) ? &children[static_cast<std::size_t>(index.row())] : nullptr;
}

QModelIndex VDSectionOutlineModel::clientIndex(Group group, int row) const
{
    return index(row, 0, index(group, 0));
}

QModelIndex VDSectionOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, column, quintptr(0));
    return createIndex(row, column, quintptr(parent.row() + 1));
}

QModelIndex VDSectionOutlineModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int VDSectionOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return kGroupCount;
    if (parent.column() != 0 || parent.internalId() != 0)
        return 0;
    return static_cast<int>(groups_[static_cast<std::size_t>(parent.row())].children.size());
}

int VDSectionOutlineModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant VDSectionOutlineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == 0) {
        const auto& group = groups_[static_cast<std::size_t>(index.row())];
        if (role == Qt::DisplayRole)
            return group.parent;
        if (role == Qt::FontRole) {
            QFont font;
            font.setBold(true);
            return font;
        }
        if (role == Qt::ForegroundRole) {
            // Group rows are disabled, and the style's disabled text is too faint for a heading.
            QColor colour = QGuiApplication::palette().color(QPalette::WindowText);
            colour.setAlphaF(0.55f);
            return colour;
        }
        return {};
    }
    const auto& group = groups_[index.internalId() - 1];
    const auto row = static_cast<std::size_t>(index.row());
    if (role == Qt::DisplayRole)
        return QString::fromStdString(group.children[row].title());
    if (role == Qt::DecorationRole && !group.icons[row].isNull())
        return group.icons[row];
    return {};
}

Qt::ItemFlags VDSectionOutlineModel::flags(const QModelIndex& index) const
{
    // A disabled group row is skipped by the keyboard and ignored by the mouse, so the
    // selection can only ever land on a client.
    if (!index.isValid() || index.internalId() == 0)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace vd
