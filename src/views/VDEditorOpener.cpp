#include "VDEditorOpener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "data/VDEditorFiles.h"
#include "data/VDUtils.h"
#include "platform/DispatchQueue.h"

namespace vd::editor {
namespace {

void onOpenQueue(Task task)
{
    SerialQueue::create("VD.Open.Thread")->async(std::move(task));
}

QString qPath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

void openInSubl(std::string text)
{
    onOpenQueue([text = std::move(text)] {
        const auto file = VDEditorFiles::writeText(text);
        const auto subl = VDUtils::sublPath();
        if (file && subl)
            QProcess::startDetached(qPath(*subl), {"-a", qPath(*file)});
    });
}

void openInVSC(std::string text)
{
    onOpenQueue([text = std::move(text)] {
        const auto file = VDEditorFiles::writeText(text);
        if (!file)
            return;
        // The path is absolute, so its own leading slash separates it from the "file" host.
        if (VDUtils::vsCodeURLHandlerExists() && QDesktopServices::openUrl(QUrl("vscode://file" + qPath(*file))))
            return;
        if (const auto code = VDUtils::vsCodePath())
            QProcess::startDetached(qPath(*code), {qPath(*file)});
    });
}

} // namespace vd::editor
