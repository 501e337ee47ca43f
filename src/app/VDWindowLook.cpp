#include "VDWindowLook.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QStyle>

namespace vd {

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
