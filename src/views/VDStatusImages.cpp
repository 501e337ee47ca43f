#include "VDStatusImages.h"

#include <cstring>

#include <QPainter>
#include <QPainterPath>

#include "data/VDTunnelInfo.h"
#include "data/VDUDPTunnelInfo.h"

namespace vd {
namespace {

constexpr int kSide = 24;

QPixmap draw(void (*paint)(QPainter&))
{
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return pixmap;
}

void connecting(QPainter& painter)
{
    painter.setPen(QPen(QColor(0xE0, 0x9A, 0x16), 3.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(3, 3, kSide - 6, kSide - 6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xE0, 0x9A, 0x16));
    painter.drawEllipse(QRectF(9, 9, 6, 6));
}

void complete(QPainter& painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2F, 0xA8, 0x4F));
    painter.drawEllipse(QRectF(1, 1, kSide - 2, kSide - 2));
    QPainterPath tick;
    tick.moveTo(6.5, 12.5);
    tick.lineTo(10.5, 16.5);
    tick.lineTo(17.5, 7.5);
    painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
}

void error(QPainter& painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xD6, 0x3A, 0x31));
    painter.drawEllipse(QRectF(1, 1, kSide - 2, kSide - 2));
    painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 8), QPointF(16, 16));
    painter.drawLine(QPointF(16, 8), QPointF(8, 16));
}

constexpr const char* kNames[] = {"connecting", "complete", "error"};

int indexOf(const char* name)
{
    for (int i = 0; name && i < 3; ++i) {
        if (std::strcmp(name, kNames[i]) == 0)
            return i;
    }
    return -1;
}

} // namespace

QPixmap VDStatusImages::named(const char* name)
{
    static const QPixmap images[] = {draw(connecting), draw(complete), draw(error)};
    const int index = indexOf(name);
    return index < 0 ? QPixmap() : images[index];
}

QString VDStatusImages::spokenName(const char* name)
{
    static const char* const spoken[] = {"Active", "Completed", "Failed"};
    const int index = indexOf(name);
    return index < 0 ? QString() : QString::fromLatin1(spoken[index]);
}

const char* VDStatusImages::nameFor(TunnelStatus status)
{
    switch (status) {
    case TunnelStatus::active: return "connecting";
    case TunnelStatus::completed: return "complete";
    case TunnelStatus::suspended: return "error";
    }
    return nullptr;
}

const char* VDStatusImages::nameFor(UDPStatus status)
{
    switch (status) {
    case UDPStatus::active: return "connecting";
    case UDPStatus::sent: return "complete";
    case UDPStatus::failed: return "error";
    }
    return nullptr;
}

QPixmap VDStatusImages::forStatus(TunnelStatus status)
{
    return named(nameFor(status));
}

QPixmap VDStatusImages::forStatus(UDPStatus status)
{
    return named(nameFor(status));
}

} // namespace vd
