#include <fstream>
#include <iterator>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "DetailFixture.h"
#include "data/VDEditorFiles.h"
#include "data/VDUtils.h"
#include "views/VDTunnelDetailDataView.h"
#include "views/VDTunnelDetailTextView.h"

namespace vd {
namespace {

const auto* const environment = testing::AddGlobalTestEnvironment(new test::DetailEnvironment);

QStringList buttonTitles(const QWidget& view)
{
    QStringList titles;
    for (const auto* button : view.findChildren<QPushButton*>())
        titles << button->text();
    titles.sort();
    return titles;
}

std::vector<std::string> linesOf(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(DetailTextViewTest, ButtonsOnlyForInstalledEditorsWhichGetTheShownTextInAnOwnerOnlyFile)
{
    {
        VDTunnelDetailTextView none;
        EXPECT_TRUE(buttonTitles(none).isEmpty());
        VDTunnelDetailDataView data;
        EXPECT_EQ(buttonTitles(data), QStringList{"Export as bin"});
    }
    test::FakeEditor code("code");
    VDTunnelDetailDataView data;
    data.resize(600, 300);
    data.show();
    EXPECT_EQ(buttonTitles(data), (QStringList{"Export as bin", "Open in VSCode"}));
    const auto buttons = data.findChildren<QPushButton*>();
    const auto vscode = *std::find_if(buttons.begin(), buttons.end(), [](auto* b) { return b->text() == "Open in VSCode"; });
    // The editor button takes the corner, 5 points in; "Export as bin" sits left of it.
    EXPECT_EQ(data.width() - vscode->geometry().right() - 1, 5);
    EXPECT_LT(data.exportButton()->geometry().right(), vscode->geometry().left());

    test::FakeEditor subl("subl");
    VDTunnelDetailTextView view;
    EXPECT_EQ(buttonTitles(view), (QStringList{"Open in Sublime Text", "Open in VSCode"}));

    // The editors get the shown text in an owner-only file named by the time.
    view.setText("GET / HTTP/1.1\nHost: example.com\n");

    // No desktop entry takes "vscode:" URLs here, so the found program is started on the file.
    view.openInVSC();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(code.argsFile()); }, 5000));
    const auto codeArgs = linesOf(code.argsFile());
    ASSERT_EQ(codeArgs.size(), 1U);
    const std::filesystem::path file = codeArgs[0];
    EXPECT_EQ(file.parent_path(), *VDEditorFiles::folder());
    EXPECT_EQ(file.extension(), ".txt");
    EXPECT_EQ(file.stem().string().find_first_not_of("0123456789"), std::string::npos);
    // Milliseconds since 2001: thirteen digits for decades to come.
    EXPECT_GE(file.stem().string().size(), 12U);
    EXPECT_EQ(test::DetailEnvironment::caches() / "VantorDashboard" / "Editor", file.parent_path());
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "GET / HTTP/1.1\nHost: example.com\n");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::status(file.parent_path()).permissions(), std::filesystem::perms::owner_all);

    view.openInSubl();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(subl.argsFile()); }, 5000));
    const auto sublArgs = linesOf(subl.argsFile());
    ASSERT_EQ(sublArgs.size(), 2U);
    EXPECT_EQ(sublArgs[0], "-a");
    EXPECT_EQ(std::filesystem::path(sublArgs[1]).parent_path(), file.parent_path());

    // A launch starts with an empty folder.
    VDEditorFiles::cleanFolder();
    EXPECT_TRUE(std::filesystem::is_empty(file.parent_path()));
}

TEST(DetailTextViewTest, EditorsFoundThroughTheirDesktopEntries)
{
    const auto share = test::DetailEnvironment::caches().parent_path() / "share" / "applications";
    std::filesystem::create_directories(share);
    const auto program = test::DetailEnvironment::caches().parent_path() / "opt-sublime";
    std::ofstream(program) << "#!/bin/sh\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::ofstream(share / "sublime_text.desktop") << "[Desktop Entry]\nName=Sublime Text\nExec=" << program.string() << " %F\n";
    EXPECT_EQ(VDUtils::sublPath(), program);
    EXPECT_FALSE(VDUtils::checkVSCodeExist());
    std::filesystem::remove(share / "sublime_text.desktop");
    EXPECT_FALSE(VDUtils::checkSublExist());
}

} // namespace
} // namespace vd
