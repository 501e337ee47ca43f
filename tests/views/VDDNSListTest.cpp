#include <functional>

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

#include "WindowFixtures.h"
#include "support/WidgetProbe.h"
#include "views/VDDNSListViewController.h"
#include "views/VDDNSSectionViewController.h"
#include "views/VDDNSViewController.h"

namespace vd {
namespace {

using contract::Command;
using test::menuItem;
using test::menuTexts;
using Json = QNComPacket::Dictionary;
using Domains = std::vector<std::string>;
using namespace std::chrono_literals;
using col = VDDNSColumns;

Json entry(const std::string& domain, std::vector<std::string> ips, Json more = Json::object())
{
    Json object{{"domain", domain}, {"ips", std::move(ips)}};
    object.update(more);
    return object;
}

// Two hosts-file names, one configured and three cached, in an order none of the views keeps.
Json sixRecords()
{
    return Json{{"record", Json::array({entry("cdn.abc.net", {"203.0.113.9"}, {{"dns", "9.9.9.9"}, {"ttl", 300}}),
                                        entry("ads.example", {}, {{"dns", ""}, {"doh", "https://doh.example/q"}, {"ttl", 5}}),
                                        entry("api.example", {"10.1.0.2", "10.1.0.1"}, {{"dns", "1.1.1.1"}, {"ttl", 59}})})},
                {"host_config", Json::array({entry("router.lan", {"192.168.1.1"}, {{"comment", "Home router"}})})},
                {"host_file", Json::array({entry("localhost", {"127.0.0.1", "::1"}), entry("printer.local", {"192.168.1.30"})})}};
}

// Cached names "name<i>.example", every fifth with enough addresses to wrap over several lines.
Json cachedNames(int count, const std::function<int(int)>& ttlOf)
{
    auto records = Json::array();
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> ips{"10.0.1." + std::to_string(i)};
        for (int extra = 0; i % 5 == 0 && extra < 30; ++extra)
            ips.push_back("10.0.2." + std::to_string(extra));
        records.push_back(entry("name" + std::to_string(i) + ".example", ips, {{"dns", "1.1.1.1"}, {"ttl", ttlOf(i)}}));
    }
    return Json{{"record", records}};
}

Domains domainsOf(const std::vector<VDDNSInfo>& rows)
{
    Domains domains;
    for (const auto& r : rows)
        domains.push_back(r.domain);
    return domains;
}

// The cells' texts are the entries' own, pinned where the entries are tested; the columns sort
// by typed keys of their own.
TEST(DNSTableModelTest, HeaderClicksSortByTypedKeys)
{
    VDDNSListViewController::Model model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::vector<VDDNSInfo> rows;
    const Json report = sixRecords();
    for (const auto& [key, type] : {std::pair{"host_file", DNSType::hostsFile}, {"host_config", DNSType::configured}, {"record", DNSType::dynamic}}) {
        for (const auto& object : report[key])
            rows.push_back(VDDNSInfo::initWithDictionary(object, type));
    }
    model.setRows(rows);
    // The IPs column sorts by the first address as a text; an entry without one comes first.
    model.sort(col::kIps);
    EXPECT_EQ(domainsOf(model.mainArray()), (Domains{"ads.example", "api.example", "localhost", "router.lan", "printer.local", "cdn.abc.net"}));
    // The TTL column's numeric order is the scrolled list's case, whose reorder a text sort would miss.
}

// --- the list, fed reports directly --------------------------------------------------------------

class DNSListTest : public test::WindowProcesserTest {
protected:
    DNSListTest()
    {
        section.resize(1000, 600);
        section.show();
        feed(Command::dnsRecords, sixRecords());
    }
    VDDNSListViewController& list() { return *section.listVC(); }
    void chooseType(int row)
    {
        auto* outline = section.sectionVC()->outlineView();
        const QModelIndex entry = outline->model()->index(row, 0, outline->model()->index(0, 0));
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(entry).center());
        settle();
    }
    void select(const std::string& domain)
    {
        const auto rows = domainsOf(list().mainArray());
        const auto it = std::find(rows.begin(), rows.end(), domain);
        ASSERT_NE(it, rows.end()) << domain;
        list().tableView()->selectRow(static_cast<int>(it - rows.begin()));
    }
    int selectedRow() const { return section.listVC()->tableView()->selectionModel()->selectedRows().value(0).row(); }
    std::string domainAt(int row) { return list().mainArray()[static_cast<std::size_t>(row)].domain; }

    VDDNSViewController section{idString};
};

TEST_F(DNSListTest, HostsFileThenConfiguredThenCachedNarrowedByTypeAndByTheWindowFilter)
{
    EXPECT_EQ(domainsOf(list().mainArray()), (Domains{"localhost", "printer.local", "router.lan", "cdn.abc.net", "ads.example", "api.example"}));
    const auto* model = &section.sectionVC()->model();
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsSelectable) << "the group row";
    EXPECT_EQ(section.sectionVC()->outlineView()->selectionModel()->selectedIndexes().first().data().toString(), "All");

    chooseType(3);
    EXPECT_EQ(list().filterType(), 3u);
    EXPECT_EQ(domainsOf(list().mainArray()), (Domains{"cdn.abc.net", "ads.example", "api.example"}));
    chooseType(2);
    EXPECT_EQ(domainsOf(list().mainArray()), (Domains{"localhost", "printer.local"}));
    // The type stays in force for later reports.
    feed(Command::dnsRecordsPush, sixRecords());
    EXPECT_EQ(list().mainArray().size(), 2u);
    chooseType(0);
    EXPECT_EQ(list().mainArray().size(), 6u);

    // The window's filter matches domains, in the way the tunnel filter matches hosts.
    filter("ABC");
    EXPECT_EQ(domainsOf(list().mainArray()), Domains{"cdn.abc.net"});
    filter("");
    EXPECT_EQ(list().mainArray().size(), 6u);
}

TEST_F(DNSListTest, DeleteIsOfferedForChosenCachedEntriesAndTheChoiceFollowsItsDomain)
{
    auto* del = list().delButton();
    EXPECT_FALSE(del->isEnabled());
    select("router.lan");
    EXPECT_EQ(list().selectedDomain(), "router.lan");
    EXPECT_FALSE(del->isEnabled());
    select("api.example");
    EXPECT_TRUE(del->isEnabled());
    list().tableView()->clearSelection();
    EXPECT_EQ(list().selectedDomain(), "");
    EXPECT_FALSE(del->isEnabled());

    EXPECT_EQ(menuTexts(*list().menuNeedsUpdate(2)), QStringList({"Set Filter to router.lan", "-", "Copy Domain", "Copy IPs", "Copy DNS / DoH"}));
    EXPECT_EQ(list().selectedDomain(), "router.lan") << "the row under the pointer is selected first";
    QMenu* menu = list().menuNeedsUpdate(5);
    EXPECT_EQ(menuTexts(*menu).mid(0, 3), QStringList({"Delete DNS Record of api.example", "-", "Set Filter to api.example"}));
    EXPECT_TRUE(del->isEnabled());
    EXPECT_EQ(list().menuNeedsUpdate(6), nullptr) << "below the last row there is no menu";

    // The same table in another order keeps the choice on its domain; without the entry it goes.
    Json moved = sixRecords();
    std::swap(moved["record"][0], moved["record"][2]);
    feed(Command::dnsRecordsPush, moved);
    ASSERT_EQ(domainAt(3), "api.example");
    EXPECT_EQ(selectedRow(), 3);
    EXPECT_TRUE(del->isEnabled());
    menuItem(*menu, "Set Filter to api.example")->trigger();
    settle();
    EXPECT_EQ(processer->filterString(), "api.example");
    EXPECT_EQ(domainsOf(list().mainArray()), Domains{"api.example"});

    Json gone = sixRecords();
    gone["record"].erase(2);
    feed(Command::dnsRecordsPush, gone);
    EXPECT_TRUE(list().tableView()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(list().selectedDomain(), "");
    EXPECT_FALSE(del->isEnabled());
}

// Every fifth name wraps its addresses over several lines, so the rows differ in height.
TEST_F(DNSListTest, ScrolledAwayFromTheSelectionPushesKeepTheTopRecordAndTheSelectionWhileTTLsReorderRows)
{
    QAbstractItemModelTester tester(list().model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(list().model(), &QAbstractItemModel::modelAboutToBeReset);
    auto* table = list().tableView();
    const auto topDomain = [&] { return domainAt(table->rowAt(0)); };
    feed(Command::dnsRecordsPush, cachedNames(80, [](int i) { return 1000 + i; }));
    table->horizontalHeader()->setSortIndicator(col::kTtl, Qt::AscendingOrder);
    select("name3.example");
    table->scrollTo(list().model()->index(40, 0), QAbstractItemView::PositionAtTop);
    // name40 is one of the tall rows: part of it is scrolled out of sight, and stays so.
    table->verticalScrollBar()->setValue(table->verticalScrollBar()->value() + 7);
    ASSERT_EQ(topDomain(), "name40.example");
    ASSERT_EQ(table->rowViewportPosition(40), -7);

    // The times to live count down, and the later half now expires first.
    feed(Command::dnsRecordsPush, cachedNames(80, [](int i) { return i < 40 ? 990 + i : i; }));
    ASSERT_EQ(domainAt(0), "name40.example");
    EXPECT_EQ(topDomain(), "name40.example");
    EXPECT_EQ(table->rowViewportPosition(0), -7);
    EXPECT_EQ(table->rowHeight(0), table->rowHeight(45)) << "heights go with their rows";
    EXPECT_GT(table->rowHeight(0), table->rowHeight(41));
    EXPECT_EQ(list().selectedDomain(), "name3.example");
    EXPECT_EQ(domainAt(selectedRow()), "name3.example");
    EXPECT_EQ(domainAt(table->currentIndex().row()), "name3.example");

    // Back at the very start, the table stays there and shows what now comes first.
    table->scrollToTop();
    feed(Command::dnsRecordsPush, cachedNames(80, [](int i) { return 1000 + i; }));
    EXPECT_EQ(topDomain(), "name0.example");
    EXPECT_EQ(list().selectedDomain(), "name3.example");
    EXPECT_EQ(resets.count(), 0);

    // A wider IPs column needs fewer lines.
    const int tall = table->rowHeight(0);
    table->horizontalHeader()->resizeSection(col::kIps, 900);
    EXPECT_LT(table->rowHeight(0), tall);
    EXPECT_GE(table->rowHeight(0), VDTableCellView::kRowHeight);
}

// --- the list and the simulated service ------------------------------------------------------------

class DNSListWithServiceTest : public test::RecordListServiceFixture {
protected:
    DNSListWithServiceTest() : RecordListServiceFixture(0ms) {}

    VDDNSListViewController& list() { return *section.listVC(); }
    // The rows of the cached (dynamic) entries.
    std::vector<int> dynamicRows()
    {
        std::vector<int> rows;
        for (std::size_t r = 0; r < list().mainArray().size(); ++r) {
            if (list().mainArray()[r].type == DNSType::dynamic)
                rows.push_back(static_cast<int>(r));
        }
        return rows;
    }
    std::string domainAt(int row) { return list().mainArray()[static_cast<std::size_t>(row)].domain; }
    bool pushSwitchedTo(bool on)
    {
        return QTest::qWaitFor([&] { return lastSwitch(Command::autoPushDNS) == on; }, 5000);
    }
    bool asked(Command cmd, std::size_t times)
    {
        return QTest::qWaitFor([&] { return commands(cmd).size() == times; }, 5000);
    }

    VDDNSViewController section{idString};
};

TEST_F(DNSListWithServiceTest, TheShownSectionFollowsTheServicesTableAndSendsWhatTheUserAsks)
{
    EXPECT_TRUE(lastSwitch(Command::autoPushDNS).is_null()) << "nothing is asked before the section is shown";
    section.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list().mainArray().empty(); }, 5000));
    EXPECT_FALSE(commands(Command::dnsRecords).empty());
    ASSERT_TRUE(pushSwitchedTo(true));

    // Copy items put the entry's texts on the clipboard.
    const auto copy = [&](int row, const char* item) {
        menuItem(*list().menuNeedsUpdate(row), item)->trigger();
        return QGuiApplication::clipboard()->text().toStdString();
    };
    EXPECT_EQ(copy(4, "Copy Domain"), "nas.lan");
    EXPECT_EQ(copy(4, "Copy IPs"), "192.168.1.5, fd00::5");
    EXPECT_EQ(copy(0, "Copy DNS / DoH"), list().mainArray()[0].dns);

    // A configured name cannot be deleted: nothing is sent.
    const auto cached = dynamicRows();
    ASSERT_GE(cached.size(), 2u);
    const std::string first = domainAt(cached[0]);
    const std::string second = domainAt(cached[1]);
    list().tableView()->selectRow(3);
    list().delAction();
    // The second cached name stays chosen while the first one is deleted from the menu, whose
    // first item is the delete item.
    QMenu* menu = list().menuNeedsUpdate(cached[0]);
    list().tableView()->selectRow(cached[1]);
    menu->actions().first()->trigger();
    ASSERT_TRUE(asked(Command::removeDNSRecord, 1));
    EXPECT_EQ(commands(Command::removeDNSRecord).front()["d"]["domain"], first);
    // The service pushes its table without the name; the choice stays on its domain, as the fed
    // list's case checks row by row, so the delete button deletes the second one.
    ASSERT_TRUE(QTest::qWaitFor([&] { return domainAt(cached[0]) == second; }, 5000));
    list().delAction();
    ASSERT_TRUE(asked(Command::removeDNSRecord, 2));
    EXPECT_EQ(commands(Command::removeDNSRecord).back()["d"]["domain"], second);

    // Purge empties the cache, refresh asks for the table again.
    QTest::mouseClick(list().purgeButton(), Qt::LeftButton);
    ASSERT_TRUE(asked(Command::purgeDNSRecords, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dynamicRows().empty(); }, 5000));
    EXPECT_EQ(list().mainArray().size(), 6u);
    const auto tables = commands(Command::dnsRecords).size();
    QTest::mouseClick(list().refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(asked(Command::dnsRecords, tables + 1));

    // The push runs only while the section is shown.
    section.hide();
    ASSERT_TRUE(pushSwitchedTo(false));
    section.show();
    ASSERT_TRUE(pushSwitchedTo(true));
    EXPECT_EQ(commands(Command::autoPushDNS).size(), 3u);
}

} // namespace
} // namespace vd
