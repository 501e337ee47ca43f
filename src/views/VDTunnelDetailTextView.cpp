#include "VDTunnelDetailTextView.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedLayout>
#include <QTextCursor>
#include <QVBoxLayout>

#include "VDEditorOpener.h"
#include "VDFindTarget.h"
#include "VDFindTargets.h"
#include "data/VDUtils.h"

namespace vd {
namespace {

constexpr int kButtonInset = 5;
constexpr int kCornerRadius = 3;

} // namespace

QFont VDTunnelDetailTextView::textFont()
{
    QFont font;
    font.setPixelSize(12);
    return font;
}

VDTunnelDetailTextView::VDTunnelDetailTextView(QWidget* parent)
    : QWidget(parent), textView_(new QPlainTextEdit), content_(new QStackedLayout), above_(new QVBoxLayout),
      buttons_(new QHBoxLayout)
{
    textView_->setReadOnly(true);
    textView_->setFont(textFont());
    textView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setStyleSheet(QString("QPlainTextEdit { border-radius: %1px; }").arg(kCornerRadius));
    content_->addWidget(textView_);

    buttons_->setContentsMargins(0, kButtonInset, kButtonInset, kButtonInset);
    buttons_->setSpacing(kButtonInset);
    buttons_->addStretch();
    if (VDUtils::checkSublExist())
        connect(addButton("Open in Sublime Text"), &QPushButton::clicked, this, &VDTunnelDetailTextView::openInSubl);
    if (VDUtils::checkVSCodeExist())
        connect(addButton("Open in VSCode"), &QPushButton::clicked, this, &VDTunnelDetailTextView::openInVSC);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    above_->setSpacing(0);
    layout->addLayout(above_);
    layout->addLayout(content_, 1);
    layout->addLayout(buttons_);
    connect(content_, &QStackedLayout::currentChanged, this, &VDTunnelDetailTextView::findTargetChanged);
}

void VDTunnelDetailTextView::setContentName(const QString& name)
{
    for (int i = 0; i < content_->count(); ++i)
        content_->widget(i)->setAccessibleName(name);
}

void VDTunnelDetailTextView::setText(const QString& text)
{
    textView_->setPlainText(text);
}

void VDTunnelDetailTextView::setAttributedText(const StyledText& text)
{
    QTextCursor cursor(textView_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat regular;
    regular.setFont(textFont());
    QTextCharFormat bold = regular;
    bold.setFontWeight(QFont::Bold);
    for (const auto& run : text)
        cursor.insertText(QString::fromStdString(run.text), run.bold ? bold : regular);
}

std::string VDTunnelDetailTextView::shownText() const
{
    return textView_->toPlainText().toStdString();
}

VDFindTarget* VDTunnelDetailTextView::findTarget()
{
    QWidget* shown = content_->currentWidget();
    if (auto* made = shown->findChild<VDFindTarget*>(QString(), Qt::FindDirectChildrenOnly))
        return made;
    return makeFindTarget(*shown);
}

void VDTunnelDetailTextView::openInSubl()
{
    editor::openInSubl(shownText());
}

void VDTunnelDetailTextView::openInVSC()
{
    editor::openInVSC(shownText());
}

QPushButton* VDTunnelDetailTextView::addButton(const QString& title)
{
    auto* button = new QPushButton(title);
    // Each new button goes left of the last one; the stretch stays first.
    buttons_->insertWidget(1, button);
    lastButton_ = button;
    return button;
}

void VDTunnelDetailTextView::addContentView(QWidget* view)
{
    content_->addWidget(view);
}

void VDTunnelDetailTextView::addAboveContent(QWidget* bar)
{
    above_->addWidget(bar);
}

void VDTunnelDetailTextView::showContentView(QWidget* view)
{
    content_->setCurrentWidget(view ? view : textView_);
}

} // namespace vd
