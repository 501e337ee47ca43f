#include "VDBarIcons.h"

#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QWidget>

namespace vd {

QIcon removeIcon(const QWidget& button)
{
    // A minus sign, drawn at twice its size so it stays sharp on dense screens.
    constexpr int kSide = 32;
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(button.palette().color(QPalette::ButtonText), 3.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, kSide / 2.0), QPointF(kSide - 8, kSide / 2.0));
    painter.end();
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
}

QIcon refreshIcon(const QWidget& button)
{
    return button.style()->standardIcon(QStyle::SP_BrowserReload, nullptr, &button);
}

} // namespace vd
