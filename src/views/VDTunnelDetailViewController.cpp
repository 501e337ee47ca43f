#include "VDTunnelDetailViewController.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vd {

VDTunnelDetailViewController::VDTunnelDetailViewController(std::string idString, QWidget* parent)
    : QWidget(parent), idString_(std::move(idString)), title_(new QLabel(this)), server_(new QLabel(this))
{
    QFont font = title_->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setBold(true);
    title_->setFont(font);
    title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    server_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->addWidget(title_);
    layout->addWidget(server_);
    layout->addStretch();
}

void VDTunnelDetailViewController::setTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    display(std::move(tunnel));
}

void VDTunnelDetailViewController::updateTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    display(std::move(tunnel));
}

void VDTunnelDetailViewController::display(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    tunnelInfo_ = std::move(tunnel);
    if (!tunnelInfo_) {
        title_->clear();
        server_->clear();
        return;
    }
    title_->setText(QString("Tunnel %1").arg(tunnelInfo_->id_()));
    server_->setText(QString::fromStdString(tunnelInfo_->serverString()));
}

} // namespace vd
