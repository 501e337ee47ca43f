#include "HarExportCommand.h"

#include <QAction>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>

#include "HarExportJob.h"
#include "VdVersion.h"
#include "data/VDEditorFiles.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDTunnelTableModel.h"

namespace vd {
namespace {

// Bodies the service has not sent by then are left out of their entries: a record it no
// longer keeps is never answered.
constexpr std::chrono::seconds kBodyPatience(10);

void tell(QWidget* window, QMessageBox::Icon icon, const QString& text, const QString& detail)
{
    auto* box = new QMessageBox(icon, "Export HAR", text, QMessageBox::Ok, window);
    box->setObjectName("harExportMessage");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(detail);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace

HarExportCommand::HarExportCommand(std::string idString, QWidget* window, ShownList shownList, QObject* parent)
    : QObject(parent), idString_(std::move(idString)), window_(window), shownList_(std::move(shownList)),
      action_(new QAction("&Export HAR…", this))
{
    action_->setObjectName("exportHarAction");
    connect(action_, &QAction::triggered, this, &HarExportCommand::chooseFile);
    update();
}

void HarExportCommand::update()
{
    action_->setEnabled(!job_ && shownList_() != nullptr);
}

TunnelList HarExportCommand::recordsToExport(const VDBaseTunnelListViewController& list)
{
    const auto selected = list.tableView()->selectionModel()->selectedRows();
    if (selected.size() < 2)
        return list.mainArray();
    TunnelList records;
    for (const auto& index : selected) {
        if (auto record = list.model()->recordAt(index.row()))
            records.push_back(std::move(record));
    }
    return records;
}

void HarExportCommand::chooseFile()
{
    auto* dialog = new QFileDialog(window_, "Export HAR", QString(), "HTTP Archive (*.har)");
    dialog->setObjectName("exportHarDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix("har");
    dialog->setWindowModality(Qt::WindowModal);
    dialog->selectFile(QString::fromStdString(VDEditorFiles::timeStampFileName("har")));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) { exportTo(file.toStdString()); });
    dialog->open();
}

void HarExportCommand::exportTo(const std::filesystem::path& target)
{
    const VDBaseTunnelListViewController* list = shownList_();
    if (!list || job_)
        return;
    // The rows as they are now: later reloads do not change what is written.
    job_ = new HarExportJob(idString_, recordsToExport(*list), target, {har::kCreatorName, VD_VERSION_TEXT}, kBodyPatience, this);
    job_->start([this, job = job_.data(), path = QString::fromStdString(target.string())](const HarExportResult& result) {
        job->deleteLater();
        job_ = nullptr;
        update();
        exported(result, path);
    });
    update();
}

void HarExportCommand::exported(const HarExportResult& result, const QString& path)
{
    if (!result.written) {
        tell(window_, QMessageBox::Warning, "The HAR file could not be written.",
             path + ": " + QString::fromStdString(result.problem));
        return;
    }
    QString detail = QString("%1 requests written to %2.").arg(result.entries).arg(path);
    if (result.leftOut > 0)
        detail += QString(" %1 records without HTTP (plain TCP, or TLS that was not decrypted) were left out.").arg(result.leftOut);
    tell(window_, QMessageBox::Information, "HAR file written.", detail);
}

} // namespace vd
