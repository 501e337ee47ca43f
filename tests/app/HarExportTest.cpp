#include <algorithm>
#include <string>

#include <QAction>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>

#include <nlohmann/json.hpp>

#include "ShellFixture.h"
#include "app/HarExportCommand.h"
#include "support/ChildProcess.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDRecordTableView.h"

namespace vd::test {
namespace {

using nlohmann::json;

class HarExportTest : public ShellTest {
protected:
    void SetUp() override { ASSERT_TRUE(waitFor([&] { return connected(*window); })); }
    // The message the export tells its end with.
    QMessageBox* told() const
    {
        QMessageBox* box = nullptr;
        EXPECT_TRUE(waitFor([&] { return (box = window->window()->findChild<QMessageBox*>("harExportMessage")) != nullptr; }, 30000));
        return box;
    }
    static json logWithoutCreator(const std::filesystem::path& file)
    {
        json har = json::parse(readFile(file));
        har.at("log").erase("creator");
        return har;
    }

    std::unique_ptr<VDMainWindowsController> window = localWindow(dir_ / "db.connect");
};

TEST_F(HarExportTest, TheDashboardAndVantorctlWriteTheSameFileForTheSameSelectedRecords)
{
    QAction* exportHar = window->harExport()->action();
    window->selectControl(VDMainWindowsController::DNS);
    EXPECT_FALSE(exportHar->isEnabled()) << "no tunnel list shown";

    window->selectControl(VDMainWindowsController::RecentRequests);
    ASSERT_TRUE(exportHar->isEnabled());
    auto* list = window->shownSection()->findChild<VDBaseTunnelListViewController*>();
    constexpr int kSelected = 40;
    ASSERT_TRUE(waitFor([&] { return list->mainArray().size() > kSelected; }, 15000));
    const auto* model = list->tableView()->model();
    list->tableView()->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(kSelected - 1, 0)),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const TunnelList chosen = HarExportCommand::recordsToExport(*list);
    ASSERT_EQ(chosen.size(), static_cast<std::size_t>(kSelected));
    std::string ids;
    for (const auto& record : chosen)
        ids += (ids.empty() ? "" : ",") + std::to_string(record->id_());

    // Through the menu item and its save dialog, as a user does it.
    const auto fromDashboard = dir_ / "dashboard.har";
    exportHar->trigger();
    auto* dialog = window->window()->findChild<QFileDialog*>("exportHarDialog");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->selectedFiles().value(0).endsWith(".har"));
    dialog->selectFile(QString::fromStdString(fromDashboard.string()));
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_FALSE(exportHar->isEnabled()) << "one export at a time";
    const QMessageBox* written = told();
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->text(), "HAR file written.") << written->informativeText().toStdString();
    EXPECT_TRUE(exportHar->isEnabled());

    const auto fromCtl = dir_ / "vantorctl.har";
    ChildProcess ctl({VANTORCTL_PATH, "--socket", (dir_ / "db.connect").string(), "har", "--ids", ids, "-o", fromCtl.string()},
                     {}, dir_ / "ctl.out", dir_ / "ctl.err");
    ASSERT_EQ(ctl.finish(), 0) << ctl.errors();

    const json dashboard = logWithoutCreator(fromDashboard);
    EXPECT_EQ(dashboard, logWithoutCreator(fromCtl));
    const json& entries = dashboard.at("log").at("entries");
    ASSERT_FALSE(entries.empty());
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](const json& a, const json& b) {
        return std::stoll(a.at("connection").get<std::string>()) < std::stoll(b.at("connection").get<std::string>());
    }));
    const auto leftOut = static_cast<std::size_t>(kSelected) - entries.size();
    EXPECT_NE(written->informativeText().indexOf(QString("%1 requests written").arg(entries.size())), -1);
    EXPECT_NE(ctl.output().find("left out " + std::to_string(leftOut) + " records"), std::string::npos) << ctl.output();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const json& entry) {
        return entry.at("response").at("content").contains("text");
    })) << "no entry carried a body";
    // The simulator sends its JSON gzip-coded now and then: the log holds it decoded.
    for (const json& entry : entries) {
        const json& response = entry.at("response");
        const bool gzip = std::any_of(response.at("headers").begin(), response.at("headers").end(), [](const json& field) {
            return field.at("name") == "Content-Encoding" && field.at("value") == "gzip";
        });
        if (gzip && response.at("content").contains("text")) {
            EXPECT_TRUE(json::accept(response.at("content").at("text").get<std::string>())) << entry.at("connection");
        }
    }
}

TEST_F(HarExportTest, AFileThatCannotBeWrittenIsToldAndLeavesNothing)
{
    window->selectControl(VDMainWindowsController::ActiveConnections);
    window->harExport()->exportTo(dir_ / "no-such-folder" / "out.har");
    const QMessageBox* refused = told();
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->text(), "The HAR file could not be written.");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "no-such-folder"));
}

} // namespace
} // namespace vd::test
