#include <filesystem>

#include <QComboBox>
#include <QLabel>

#include "StartWindowFixture.h"
#include "app/VDRemoteProfiles.h"

using Log = std::vector<std::string>;
using vd::VDRemoteProfiles::names;
using vd::VDRemoteProfiles::profile;

namespace {

class ProfilesTest : public StartWindowFixture {
protected:
    void fillRemote(const QString& host, const QString& port, const QString& password)
    {
        click("remoteButton");
        control<QLineEdit>("remoteHost")->setText(host);
        control<QLineEdit>("remotePort")->setText(port);
        control<QLineEdit>("remotePassword")->setText(password);
    }

    QString sheetText() const { return sheet()->findChild<QLabel*>("informativeText")->text(); }
    QStringList menu() const
    {
        QStringList items;
        auto* combo = control<QComboBox>("storedRemoteConnect");
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    }
};

TEST_F(ProfilesTest, SavingStoresTheProfileOwnerOnlyAndEmptiesTheFields)
{
    openWindow();
    fillRemote("lab.example", "7000", "pa ss");
    click("remoteSaveButton");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet()->findChild<QLineEdit*>("profileName")->text(), "lab.example");
    EXPECT_TRUE(sheetText().isEmpty());
    answerSheet("lab");

    EXPECT_EQ(sheet(), nullptr);
    ASSERT_TRUE(profile("lab"));
    EXPECT_EQ(profile("lab")->host, "lab.example");
    EXPECT_EQ(profile("lab")->port, "7000");
    EXPECT_EQ(profile("lab")->password, "pa ss");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(vd::appSettings()->fileName().toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    EXPECT_TRUE(control<QLineEdit>("remoteHost")->text().isEmpty());
    EXPECT_FALSE(enabled("remoteSaveButton"));
    EXPECT_FALSE(enabled("connectButton"));

    // The saved profile is what the saved mode connects to.
    click("remoteSegment1");
    EXPECT_EQ(menu(), QStringList{"lab"});
    EXPECT_TRUE(enabled("connectButton"));
    click("connectButton");
    EXPECT_EQ(log, (Log{"remote lab.example:7000 pa ss", "close"}));
}

TEST_F(ProfilesTest, EmptyAndDuplicateNamesAskAgainCloseStoresNothingAndOtherCaseIsANewProfile)
{
    vd::VDRemoteProfiles::add("home", {"old.host", "1", "a"});
    openWindow();
    fillRemote("new.host", "2", "b");
    click("remoteSaveButton");
    answerSheet("");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheetText(), "Profile name could not be empty.");
    answerSheet("home");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheetText(), "Profile name duplicate, try another one.");
    EXPECT_EQ(profile("home")->host, "old.host");

    answerSheet("Home", "Close");
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(names(), QStringList{"home"});
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "new.host");

    click("remoteSaveButton");
    answerSheet("Home");
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(names(), (QStringList{"Home", "home"}));
    EXPECT_EQ(profile("Home")->host, "new.host");
    EXPECT_EQ(profile("home")->host, "old.host");
}

TEST_F(ProfilesTest, DeleteRemovesTheSelectedProfileAndTheFieldsFollowTheMenu)
{
    vd::VDRemoteProfiles::add("alpha", {"a.host", "1", "pa"});
    vd::VDRemoteProfiles::add("beta", {"b.host", "2", "pb"});
    openWindow();
    click("remoteButton");
    click("remoteSegment1");
    EXPECT_EQ(menu(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "a.host");

    auto* combo = control<QComboBox>("storedRemoteConnect");
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "b.host");

    click("removeStoreButton");
    EXPECT_EQ(names(), QStringList{"alpha"});
    EXPECT_EQ(menu(), QStringList{"alpha"});
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "a.host");

    click("removeStoreButton");
    EXPECT_EQ(menu(), QStringList{"No Profile"});
    EXPECT_FALSE(enabled("removeStoreButton"));
    EXPECT_FALSE(enabled("connectButton"));
}

TEST_F(ProfilesTest, AStoreThatIsNotAMappingHoldsNoProfiles)
{
    auto settings = vd::appSettings();
    settings->setValue("remotes", "not a mapping");
    vd::syncAppSettings(*settings);
    openWindow();
    EXPECT_EQ(menu(), QStringList{"No Profile"});

    // Saving starts a fresh mapping rather than failing on the bad value.
    fillRemote("h", "1", "p");
    click("remoteSaveButton");
    answerSheet("first");
    EXPECT_EQ(names(), QStringList{"first"});
}

} // namespace
