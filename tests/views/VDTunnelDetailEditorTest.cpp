#include <fstream>

#include <QPushButton>
#include <QTest>

#include "DetailFixture.h"
#include "data/VDEditorFiles.h"
#include "data/VDUtils.h"
#include "support/ChildProcess.h"
#include "views/VDTunnelDetailDataView.h"
#include "views/VDTunnelDetailTextView.h"

namespace vd {
namespace {

QStringList buttonTitles(const QWidget& view)
{
    QStringList titles;
    for (const auto* button : view.findChildren<QPushButton*>()) {
        if (!button->isHidden())
            titles << button->text();
    }
    titles.sort();
    return titles;
}

// The arguments a stand-in editor was started with, one a line.
QStringList argumentsOf(const test::FakeEditor& editor)
{
    return QString::fromStdString(test::readFile(editor.argsFile())).split('\n', Qt::SkipEmptyParts);
}

TEST(DetailTextViewTest, ButtonsOnlyForInstalledEditorsWhichGetTheShownTextInAnOwnerOnlyFile)
{
    EXPECT_TRUE(buttonTitles(VDTunnelDetailTextView()).isEmpty());
    EXPECT_EQ(buttonTitles(VDTunnelDetailDataView()), QStringList{"Export as bin"});
    test::FakeEditor code("code");
    EXPECT_EQ(buttonTitles(VDTunnelDetailDataView()), (QStringList{"Export as bin", "Open in VSCode"}));
    test::FakeEditor subl("subl");
    VDTunnelDetailTextView view;
    EXPECT_EQ(buttonTitles(view), (QStringList{"Open in Sublime Text", "Open in VSCode"}));

    // The editors get the shown text in an owner-only file named by the time.
    view.setText("GET / HTTP/1.1\nHost: example.com\n");

    // No desktop entry takes "vscode:" URLs here, so the found program is started on the file.
    view.openInVSC();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(code.argsFile()); }, 5000));
    const QStringList codeArgs = argumentsOf(code);
    ASSERT_EQ(codeArgs.size(), 1);
    const std::filesystem::path file = codeArgs[0].toStdString();
    EXPECT_EQ(file.parent_path(), test::DetailEnvironment::caches() / "VantorDashboard" / "Editor");
    EXPECT_EQ(file.extension(), ".txt");
    EXPECT_EQ(file.stem().string().find_first_not_of("0123456789"), std::string::npos);
    // Milliseconds since 2001: thirteen digits for decades to come.
    EXPECT_GE(file.stem().string().size(), 12U);
    EXPECT_EQ(test::readFile(file), "GET / HTTP/1.1\nHost: example.com\n");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::status(file.parent_path()).permissions(), std::filesystem::perms::owner_all);

    view.openInSubl();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(subl.argsFile()); }, 5000));
    const QStringList sublArgs = argumentsOf(subl);
    ASSERT_EQ(sublArgs.size(), 2);
    EXPECT_EQ(sublArgs[0], "-a");
    EXPECT_EQ(std::filesystem::path(sublArgs[1].toStdString()).parent_path(), file.parent_path());

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
