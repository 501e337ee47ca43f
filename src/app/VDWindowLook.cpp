#include "VDWindowLook.h"

#include <QApplication>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QStyle>

namespace vd {

QIcon drawApplicationIcon()
{
    QIcon icon;
    for (const int side : {16, 32, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 256.0, side / 256.0);
        QLinearGradient tile(0, 0, 0, 256);
        tile.setColorAt(0, QColor(0x1f, 0x6f, 0xd1));
        tile.setColorAt(1, QColor(0x0b, 0x2a, 0x5c));
        painter.setPen(Qt::NoPen);
        painter.setBrush(tile);
        painter.drawRoundedRect(QRectF(16, 16, 224, 224), 48, 48);
        painter.setPen(QPen(QColor(255, 255, 255, 90), 18, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(56, 64, 144, 144), 20 * 16, 140 * 16);
        painter.setPen(QPen(QColor(0x5d, 0xe4, 0xc7), 18, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(56, 64, 144, 144), 120 * 16, 40 * 16);
        painter.setPen(QPen(Qt::white, 14, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(128, 136), QPointF(172, 92));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(128, 136), 14, 14);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap applicationIconPixmap(int side)
{
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    const QPixmap pixmap = icon.pixmap(side, side);
    return pixmap.width() >= side ? pixmap : pixmap.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void setTextPixelSize(QWidget& widget, int pixels)
{
    QFont font = widget.font();
    font.setPixelSize(pixels);
    widget.setFont(font);
}

void dimText(QWidget& widget)
{
    QPalette palette = widget.palette();
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.6f);
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

void centreOnScreen(QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace vd
