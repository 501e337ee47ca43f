#include "VDSectionView.h"

#include <utility>

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "VDLabel.h"

namespace vd {
namespace {

constexpr int kFontSize = 12;
constexpr qreal kCornerRadius = 3;

// The rounded box behind the two lines, in the colour text is normally written on.
class RoundedBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Mid), 0.5));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    }
};

QFont sized(QFont font, bool bold)
{
    font.setPixelSize(kFontSize);
    font.setBold(bold);
    return font;
}

void setIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

VDSectionView::VDSectionView(QWidget* parent)
    : QWidget(parent), titleLabel_(new QLabel(this)), section1Label_(new QLabel), text1Label_(new VDLabel),
      section2Label_(new QLabel), text2Label_(new VDLabel)
{
    titleLabel_->setFont(sized(font(), true));

    auto* box = new RoundedBox(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);
    int row = 0;
    for (auto [caption, value] : {std::pair{section1Label_, text1Label_}, std::pair{section2Label_, text2Label_}}) {
        caption->setFont(sized(font(), false));
        caption->setMinimumWidth(kCaptionWidth);
        value->setFont(sized(font(), false));
        // The captions are greyed a little so the values stand out.
        caption->setForegroundRole(QPalette::PlaceholderText);
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(titleLabel_);
    layout->addWidget(box);
}

void VDSectionView::setTitle(const QString& title, const QString& section1, const QString& text1, const QString& section2,
                             const QString& text2)
{
    titleLabel_->setText(title);
    setIfChanged(section1Label_, section1 + ":");
    text1Label_->setText(text1);
    setIfChanged(section2Label_, section2 + ":");
    text2Label_->setText(text2);
}

QString VDSectionView::title() const
{
    return titleLabel_->text();
}

QString VDSectionView::section1() const
{
    return section1Label_->text();
}

QString VDSectionView::section2() const
{
    return section2Label_->text();
}

} // namespace vd
