#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include "UrlCatcher.h"
#include "support/TempDir.h"
#include "views/VDFileBrowserReveal.h"

namespace vd::test {
namespace {

// A session bus of this program's own, without service activation, so no real file manager is
// ever started or asked.
class PrivateBus : public testing::Environment {
public:
    void SetUp() override
    {
        const QString socket = QString::fromStdString((folder_ / "bus").string());
        address_ = "unix:path=" + socket;
        const QString config = QString::fromStdString((folder_ / "bus.conf").string());
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("<busconfig><type>session</type><listen>" + address_ + "</listen>"
                    "<policy context=\"default\"><allow send_destination=\"*\"/><allow eavesdrop=\"true\"/>"
                    "<allow own=\"*\"/></policy></busconfig>")
                       .toUtf8());
        file.close();
        daemon_.start("dbus-daemon", {"--nofork", "--config-file=" + config});
        ASSERT_TRUE(daemon_.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(socket); }, 5000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    void TearDown() override
    {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    static QString address() { return address_; }

private:
    TempDir folder_;
    QProcess daemon_;
    static inline QString address_;
};
const auto* const environment = testing::AddGlobalTestEnvironment(new PrivateBus);

// Stands in for the desktop's file manager on the private bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    FakeFileManager() : bus_(QDBusConnection::connectToBus(PrivateBus::address(), "file-manager"))
    {
        EXPECT_TRUE(bus_.registerObject("/org/freedesktop/FileManager1", this, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService("org.freedesktop.FileManager1"));
    }
    ~FakeFileManager() override
    {
        bus_.unregisterService("org.freedesktop.FileManager1");
        bus_.unregisterObject("/org/freedesktop/FileManager1");
    }
    QList<QStringList> shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown << uris; }

private:
    QDBusConnection bus_;
};

TEST(FileBrowserRevealTest, AsksTheFileManagerToShowTheFileSelected)
{
    FakeFileManager manager;
    UrlCatcher catcher;
    revealInFileBrowser("/opt/Some App/bin/../bin/tool");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.shown.isEmpty(); }, 5000));
    ASSERT_EQ(manager.shown.size(), 1);
    EXPECT_EQ(manager.shown[0].join(' ').toStdString(), "file:///opt/Some%20App/bin/tool");
    // Once a second call has been answered, the first one's answer has long come: no fallback.
    revealInFileBrowser("/opt/tool");
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.shown.size() == 2; }, 5000));
    EXPECT_TRUE(catcher.opened.isEmpty());
}

TEST(FileBrowserRevealTest, WithoutAFileManagerOpensTheFolderAndNeverTheFile)
{
    UrlCatcher catcher;
    // A path that is not absolute says nothing about where the file is: nothing happens. The
    // sidebar's reveal case opens a deeper folder the same way.
    revealInFileBrowser("tool");
    revealInFileBrowser("");
    revealInFileBrowser("/srv/tool");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.opened.isEmpty(); }, 5000));
    EXPECT_EQ(catcher.opened, QList<QUrl>({QUrl::fromLocalFile("/srv")}));
}

} // namespace
} // namespace vd::test

#include "VDFileBrowserRevealTest.moc"
