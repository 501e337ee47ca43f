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

QSize frameAllowance(const QWidget& window)
{
    const QSize known = window.frameGeometry().size() - window.size();
    if (known.height() > 0)
        return known;
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    return {2 * border, style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window) + 2 * border};
}

void centreOnScreen(QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // A top-level window is moved by its frame's corner.
    QRect frame(window.pos(), window.size() + frameAllowance(window));
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace vd
