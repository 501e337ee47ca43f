#include "ConnectionSheets.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vd {
namespace {

constexpr int kTextWidth = 420;

void makeSheet(QDialog* sheet)
{
    sheet->setWindowFlag(Qt::Sheet);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
}

QLabel* textLabel(QWidget* sheet, const QString& name, const QString& text)
{
    auto* label = new QLabel(text, sheet);
    label->setObjectName(name);
    label->setVisible(!text.isEmpty());
    return label;
}

// Reasons and places are read and copied (a socket path, a host), and may be long.
QLabel* wrappedLabel(QWidget* sheet, const QString& name, const QString& text)
{
    auto* label = textLabel(sheet, name, text);
    label->setWordWrap(true);
    label->setMinimumWidth(kTextWidth);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* boldLabel(QWidget* sheet, const QString& text)
{
    auto* label = textLabel(sheet, "message", text);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QPushButton* addButton(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role)
{
    QPushButton* button = box->addButton(text, role);
    button->setAccessibleName(text);
    return button;
}

} // namespace

QDialog* makeConnectingSheet(QWidget* window, const QString& detail, QObject* context, std::function<void()> onClose)
{
    auto* sheet = new QDialog(window);
    makeSheet(sheet);
    sheet->setObjectName("connectingSheet");

    auto* spinner = new QProgressBar(sheet);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(200, 24);
    auto* close = new QPushButton("Close", sheet);

    auto* layout = new QVBoxLayout(sheet);
    layout->addWidget(textLabel(sheet, "message", "Connecting..."), 0, Qt::AlignHCenter);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    layout->addWidget(wrappedLabel(sheet, "detailText", detail));
    layout->addWidget(close, 0, Qt::AlignRight);

    QObject::connect(close, &QPushButton::clicked, context, std::move(onClose));
    return sheet;
}

void setSheetDetail(QDialog& sheet, const QString& detail)
{
    if (auto* label = sheet.findChild<QLabel*>("detailText")) {
        label->setText(detail);
        label->setVisible(!detail.isEmpty());
        sheet.adjustSize();
    }
}

QDialog* makeConnectClosedSheet(QWidget* window, const QString& reason, const QString& detail, QObject* context,
                                ConnectClosedActions actions)
{
    auto* sheet = new QDialog(window);
    makeSheet(sheet);
    sheet->setObjectName("connectClosedSheet");

    auto* icon = new QLabel(sheet);
    const int side = sheet->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, sheet);
    icon->setPixmap(sheet->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, sheet).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->addWidget(boldLabel(sheet, "Connect Closed"));
    texts->addWidget(wrappedLabel(sheet, "informativeText", reason));
    texts->addWidget(wrappedLabel(sheet, "detailText", detail));
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(sheet);
    QPushButton* reconnect = addButton(buttons, "Reconnect", QDialogButtonBox::AcceptRole);
    if (actions.changePassword) {
        QPushButton* back = addButton(buttons, "Change Password...", QDialogButtonBox::ActionRole);
        back->setAccessibleDescription("Opens the connect window with this service filled in, for another password");
        QObject::connect(back, &QPushButton::clicked, context, std::move(actions.changePassword));
    }
    QPushButton* close = addButton(buttons, "Close", QDialogButtonBox::RejectRole);
    reconnect->setDefault(true);
    reconnect->setFocus();

    auto* layout = new QVBoxLayout(sheet);
    layout->addLayout(top);
    layout->addWidget(buttons);

    QObject::connect(reconnect, &QPushButton::clicked, context, std::move(actions.reconnect));
    QObject::connect(close, &QPushButton::clicked, context, std::move(actions.close));
    // Escape means Close, as the button says.
    QObject::connect(sheet, &QDialog::rejected, close, &QPushButton::click);
    return sheet;
}

} // namespace vd
