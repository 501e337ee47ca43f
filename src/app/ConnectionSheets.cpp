#include "ConnectionSheets.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vd {
namespace {

void makeSheet(QDialog* sheet)
{
    sheet->setWindowFlag(Qt::Sheet);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
}

} // namespace

QDialog* makeConnectingSheet(QWidget* window, QObject* context, std::function<void()> onClose)
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
    layout->addWidget(new QLabel("Connecting...", sheet), 0, Qt::AlignHCenter);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    layout->addWidget(close, 0, Qt::AlignRight);

    QObject::connect(close, &QPushButton::clicked, context, std::move(onClose));
    return sheet;
}

QDialog* makeConnectClosedSheet(QWidget* window, const QString& reason, QObject* context,
                                std::function<void()> onReconnect, std::function<void()> onClose)
{
    auto* sheet = new QMessageBox(window);
    makeSheet(sheet);
    sheet->setObjectName("connectClosedSheet");
    sheet->setIcon(QMessageBox::Warning);
    sheet->setText("Connect Closed");
    if (!reason.isEmpty())
        sheet->setInformativeText(reason);
    auto* reconnect = sheet->addButton("Reconnect", QMessageBox::AcceptRole);
    auto* close = sheet->addButton("Close", QMessageBox::RejectRole);
    sheet->setDefaultButton(reconnect);
    sheet->setEscapeButton(close);

    QObject::connect(reconnect, &QAbstractButton::clicked, context, std::move(onReconnect));
    QObject::connect(close, &QAbstractButton::clicked, context, std::move(onClose));
    return sheet;
}

} // namespace vd
