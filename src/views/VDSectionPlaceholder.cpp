#include "VDSectionPlaceholder.h"

#include <QMetaObject>
#include <QVBoxLayout>

#include "data/VDDataManager.h"

namespace vd {

VDSectionPlaceholder::VDSectionPlaceholder(std::string idString, const QString& title, const char* refreshNotification,
                                           Counter counter, QWidget* parent)
    : QWidget(parent), idString_(std::move(idString)), counter_(std::move(counter)), countLabel_(new QLabel(this))
{
    auto* titleLabel = new QLabel(title, this);
    QFont font = titleLabel->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    titleLabel->setFont(font);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(titleLabel, 0, Qt::AlignHCenter);
    layout->addWidget(countLabel_, 0, Qt::AlignHCenter);
    layout->addStretch();
    reload();

    // Posted on the processor's queue: the token's reset in the destructor waits for a running
    // callback, so `this` is alive while the reload is queued to it.
    refreshObservation_ = NotificationCenter::defaultCenter()->addObserver(refreshNotification, nullptr, [this](const Notification&) {
        if (reloadQueued_.exchange(true))
            return;
        QMetaObject::invokeMethod(this, [this] {
            reloadQueued_ = false;
            reload();
        }, Qt::QueuedConnection);
    });
}

VDSectionPlaceholder::~VDSectionPlaceholder()
{
    refreshObservation_.reset();
}

void VDSectionPlaceholder::reload()
{
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString_);
    const std::size_t count = processer ? counter_(*processer) : 0;
    countLabel_->setText(QString("%1 records").arg(count));
}

} // namespace vd
