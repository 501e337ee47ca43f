#include <random>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTest>

#include <gtest/gtest.h>

#include "TunnelRecords.h"
#include "support/TempDir.h"
#include "views/VDStatusImages.h"
#include "views/VDRecordTableView.h"
#include "views/VDTableCellView.h"
#include "views/VDTunnelFilter.h"
#include "views/VDTunnelTableModel.h"
#include "views/VDUserDefaults.h"

namespace vd {
namespace {

using test::idsOf;
using test::tunnel;
using test::tunnels;
using Ids = std::vector<std::int64_t>;
using col = VDTunnelColumns;

class TunnelTableModelTest : public ::testing::Test {
protected:
    QString cell(int row, int column) const { return model.data(model.index(row, column)).toString(); }
    QVariant data(int row, int column, int role) const { return model.data(model.index(row, column), role); }
    // Whatever a test does to the rows, the model is never reset.
    void TearDown() override { EXPECT_EQ(resets.count(), 0); }

    VDTunnelTableModel model{VDICONImageManager::create()};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QSignalSpy resets{&model, &QAbstractItemModel::modelAboutToBeReset};
};

TEST_F(TunnelTableModelTest, CellsShowTheRecordsTextsAndStatusImage)
{
    model.setRows({tunnel({.id = 42, .host = "::1", .port = 8443, .type = 2, .active = true, .processName = "curl", .processId = 77,
                          .policyName = "Proxy", .ruleInfo = "DOMAIN-SUFFIX,example.com", .tx = 1536, .rx = 0}),
                   tunnel({.id = 7, .processName = "curl", .processId = 0, .policyName = "Proxy"}),
                   tunnel({.id = 8, .closeReason = 6, .policyName = ""})});
    // The record's own texts are pinned where the record is tested; the table adds the policy's rule.
    EXPECT_EQ((QStringList{cell(0, col::kPolicy), cell(1, col::kPolicy), cell(2, col::kPolicy)}),
              (QStringList{"Proxy (DOMAIN-SUFFIX,example.com)", "Proxy", "--"}));
    EXPECT_EQ(cell(0, col::kTx), "1.5KB");
    const auto image = [&](int row) { return data(row, col::kStatus, Qt::DecorationRole).value<QPixmap>().toImage(); };
    EXPECT_EQ((QList<QImage>{image(0), image(1), image(2)}),
              (QList<QImage>{VDStatusImages::named("connecting").toImage(), VDStatusImages::named("complete").toImage(),
                             VDStatusImages::named("error").toImage()}));
    // Proxies sort by the typed keys: the host, not the shown server text; nothing for the status.
    EXPECT_EQ(data(0, col::kServer, VDTunnelTableModel::SortKeyRole).toString(), "::1");
    EXPECT_EQ(data(0, col::kTx, VDTunnelTableModel::SortKeyRole).toLongLong(), 1536);
    EXPECT_FALSE(data(0, col::kStatus, VDTunnelTableModel::SortKeyRole).isValid());
}

// The sorting every list shares: typed keys, the latest click leading and the earlier ones
// breaking its ties, a column clicked again leading once more, equal keys keeping the order
// they arrived in. Each step clicks one column and expects the ids in this order.
// The columns read from the HTTP exchange: the code (a failure in red), the path and the response's
// content fields, blank without them, and sortable.
TEST_F(TunnelTableModelTest, ExchangeColumnsShowCodePathAndContentAndMarkFailures)
{
    const auto http = [](std::int64_t id, const std::string& status, const std::string& fields) {
        return tunnel({.id = id, .port = 80, .type = 1, .requestHead = "GET /p/" + std::to_string(id) + "?q HTTP/1.1\r\n\r\n",
                       .responseHead = "HTTP/1.1 " + status + "\r\n" + fields + "\r\n", .responseCode = status.substr(0, 3)});
    };
    model.setRows({http(1, "404 Not Found", "Content-Type: text/html\r\nContent-Length: 900\r\n"),
                   http(2, "200 OK", "content-length: 12\r\n"), tunnel({.id = 3, .type = 4})});
    const auto row = [&](int r) {
        return QStringList{cell(r, col::kCode), cell(r, col::kPath), cell(r, col::kContentType), cell(r, col::kContentLength)};
    };
    EXPECT_EQ(row(0), (QStringList{"404", "/p/1?q", "text/html", "900"}));
    EXPECT_EQ(row(1), (QStringList{"200", "/p/2?q", "", "12"}));
    EXPECT_EQ(row(2), (QStringList{"", "", "", ""}));
    EXPECT_EQ((QList<bool>{data(0, col::kCode, VDTableCellView::AlarmRole).toBool(), data(1, col::kCode, VDTableCellView::AlarmRole).toBool(),
                           data(0, col::kPath, VDTableCellView::AlarmRole).toBool()}),
              (QList<bool>{true, false, false}));
    model.sort(col::kContentLength, Qt::AscendingOrder);
    EXPECT_EQ(idsOf(model.mainArray()), (Ids{3, 2, 1}));
    // The red reads on either ground.
    const QColor onLight = VDTableCellView::alarmColor(QPalette(Qt::white));
    const QColor onDark = VDTableCellView::alarmColor(QPalette(QColor(0x20, 0x20, 0x20)));
    EXPECT_LT(onLight.lightness(), 110);
    EXPECT_GT(onDark.lightness(), 160);
}

// The user's column layout survives new columns: one saved before they existed keeps its widths
// and leaves them hidden; one saved with a new column shown shows it again.
TEST(RecordTableViewTest, SavedColumnLayoutsKeepNewColumnsAsTheUserLeftThem)
{
    const QString name = "test.extra.columns.tableview";
    QStandardItemModel before(0, col::kServer + 1);
    QHeaderView old(Qt::Horizontal);
    old.setModel(&before);
    old.resizeSection(col::kPolicy, 321);
    userDefaults()->setValue(name, old.saveState());
    userDefaults()->remove(name + ".columns");

    VDTunnelTableModel model{VDICONImageManager::create()};
    const auto open = [&] {
        auto table = std::make_unique<VDRecordTableView>(col::kColumns, nullptr);
        table->setModel(&model);
        table->rememberColumnsAs(name);
        return table;
    };
    auto table = open();
    EXPECT_EQ(table->columnWidth(col::kPolicy), 321);
    for (const int extra : {col::kCode, col::kPath, col::kContentType, col::kContentLength})
        EXPECT_TRUE(table->isColumnHidden(extra)) << extra;

    table->setColumnHidden(col::kCode, false);
    table.reset(); // saves the pending layout
    table = open();
    EXPECT_FALSE(table->isColumnHidden(col::kCode));
    EXPECT_TRUE(table->isColumnHidden(col::kPath));
    userDefaults()->remove(name);
    userDefaults()->remove(name + ".columns");
}

TEST_F(TunnelTableModelTest, ClicksSortByTypedKeysWithEarlierClicksBreakingTies)
{
    struct Click {
        int column;
        Qt::SortOrder order;
        Ids ids;
    };
    // By the shown text "a.com.cn:1" would come before "a.com:9"; by host "a.com" comes first.
    model.setRows({tunnel({.id = 1, .host = "b", .type = 1, .processName = "zz", .processId = 4, .tx = 100}),
                   tunnel({.id = 2, .host = "a.com", .port = 9, .type = 1, .processName = "aa", .processId = 3, .tx = 9}),
                   tunnel({.id = 3, .host = "b", .type = 1, .processId = 2, .tx = 10}),
                   tunnel({.id = 4, .host = "a.com.cn", .port = 1, .type = 1, .processId = 1, .tx = 100})});
    const Click steps[] = {
        {col::kStatus, Qt::AscendingOrder, {1, 2, 3, 4}}, // the status column does not sort
        {col::kMethod, Qt::AscendingOrder, {1, 2, 3, 4}}, // equal keys keep their order
        {col::kTx, Qt::AscendingOrder, {2, 3, 1, 4}},     // numerically, not as texts
        {col::kServer, Qt::DescendingOrder, {3, 1, 4, 2}},
        {col::kTx, Qt::DescendingOrder, {1, 4, 3, 2}},    // upload leads again, the host breaks ties
        {col::kClient, Qt::AscendingOrder, {4, 3, 2, 1}}, // by process id, not by the shown name
    };
    for (const auto& [column, order, ids] : steps) {
        SCOPED_TRACE(column);
        model.sort(column, order);
        EXPECT_EQ(idsOf(model.mainArray()), ids);
    }
    ASSERT_EQ(model.sortDescriptors().size(), 4u);
    EXPECT_EQ(model.sortDescriptors()[0], (ColumnSortDescriptor{col::kClient, true}));

    // Methods sort in the order of their names.
    std::vector<std::shared_ptr<const VDTunnelInfo>> methods;
    for (const auto& [id, type] : {std::pair{1, 5}, {2, 0}, {3, 2}, {4, 1}, {5, 4}, {6, 3}, {7, 9}})
        methods.push_back(tunnel({.id = id, .type = type}));
    model.setRows(methods);
    model.sort(col::kMethod, Qt::AscendingOrder);
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << cell(row, col::kMethod);
    EXPECT_EQ(names, QStringList({"HTTP", "HTTPS", "SOCK", "TCP", "UDP", "UNKNOWN", "UNKNOWN"}));
}

// Keys kept from one click for the next sort as keys read afresh would, whichever way a column
// goes, with ties broken by the columns clicked before and else by the order the rows had; and
// new rows are never sorted by the keys of the rows before them.
TEST_F(TunnelTableModelTest, ClicksInARowSortAsTheKeysReadAfresh)
{
    const auto someRows = [](std::int64_t firstId, std::uint64_t seed) {
        std::mt19937_64 random(seed);
        const char* hosts[] = {"", "a.com", "a.com.cn", "api.example.com", "api.example.org", "B.net"};
        TunnelList rows;
        for (std::int64_t id = firstId; id < firstId + 300; ++id)
            rows.push_back(tunnel({.id = id, .host = hosts[random() % 6], .type = static_cast<int>(random() % 3),
                                   .processId = static_cast<std::int64_t>(random() % 4), .policyName = random() % 2 ? "Proxy" : "",
                                   .tx = static_cast<std::int64_t>(random() % 20) - 5}));
        return rows;
    };
    const std::pair<int, Qt::SortOrder> clicks[] = {
        {col::kTx, Qt::AscendingOrder},      {col::kTx, Qt::DescendingOrder},     {col::kServer, Qt::AscendingOrder},
        {col::kTx, Qt::AscendingOrder},      {col::kServer, Qt::DescendingOrder}, {col::kClient, Qt::AscendingOrder},
        {col::kPolicy, Qt::DescendingOrder}, {col::kServer, Qt::AscendingOrder},  {col::kId, Qt::DescendingOrder},
    };
    for (const std::uint64_t seed : {1u, 2u}) {
        TunnelList expected = someRows(static_cast<std::int64_t>(seed) * 1000, seed);
        model.setRows(expected);
        for (const auto& [column, order] : clicks) {
            model.sort(column, order);
            expected = model.sorted(expected);
            ASSERT_EQ(idsOf(model.mainArray()), idsOf(expected)) << "seed " << seed << ", column " << column;
        }
    }
}

TEST_F(TunnelTableModelTest, PersistentIndexesFollowTheirRecordsAndEachCopyOfATwiceListedOne)
{
    model.setRows(tunnels({1, 2, 3, 4, 5}));
    const QPersistentModelIndex four(model.index(3, col::kServer));
    const QPersistentModelIndex two(model.index(1, 0));
    // Reordered, one record gone and two new ones, the same record objects replaced by copies.
    model.setRows(tunnels({6, 4, 1, 3, 5, 7}));
    EXPECT_EQ(idsOf(model.mainArray()), (Ids{6, 4, 1, 3, 5, 7}));
    EXPECT_EQ(four.row(), 1);
    EXPECT_EQ(four.column(), col::kServer);
    EXPECT_FALSE(two.isValid());
    // Every row leaves, then some come back: the old index stays gone.
    model.setRows({});
    EXPECT_FALSE(four.isValid());
    model.setRows(tunnels({4, 2}));
    EXPECT_FALSE(four.isValid());
    EXPECT_EQ(model.rowOfKey(2), 1);

    model.setRows(tunnels({1, 2, 1}));
    const QPersistentModelIndex first(model.index(0, 0));
    const QPersistentModelIndex second(model.index(2, 0));
    model.setRows(tunnels({2, 1, 1}));
    EXPECT_EQ(first.row(), 1);
    EXPECT_EQ(second.row(), 2);
    model.setRows(tunnels({1, 2}));
    EXPECT_EQ(first.row(), 0);
    EXPECT_FALSE(second.isValid());
    model.setRows(tunnels({2}));
    EXPECT_FALSE(first.isValid());
}

TEST_F(TunnelTableModelTest, NewRecordsAtEitherEndAreInsertedAndARefreshIsOneRangeWithoutALayout)
{
    model.setRows(tunnels({3, 4}));
    const QPersistentModelIndex three(model.index(0, col::kServer));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    const auto insertedAt = [&](int signal) { return std::pair{inserted[signal][1].toInt(), inserted[signal][2].toInt()}; };
    // A list kept newest first grows at its top.
    model.setRows(tunnels({1, 2, 3, 4}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(insertedAt(0), std::pair(0, 1));
    EXPECT_EQ(three.row(), 2);
    // Both ends at once: the rows above first, then those below.
    model.setRows(tunnels({0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(inserted.count(), 3);
    EXPECT_EQ(insertedAt(1), std::pair(0, 0));
    EXPECT_EQ(insertedAt(2), std::pair(5, 5));
    EXPECT_EQ(three.row(), 3);
    // A list kept oldest first grows at its end.
    model.setRows(tunnels({0, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(inserted.count(), 4);
    EXPECT_EQ(insertedAt(3), std::pair(6, 7));

    changed.clear();
    model.setRows(tunnels({0, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(0, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(7, col::kCount - 1));
    EXPECT_EQ(layouts.count(), 0);
}

// Client icons come from the icon cache by bundle id; a late answer lands on that bundle's rows
// whatever rows moved meanwhile.
TEST(TunnelTableModelIconTest, ALateIconShowsOnlyOnTheRowsOfItsBundle)
{
    test::TempDir folder;
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((folder / "com.example.red.png").string())));
    const auto icons = VDICONImageManager::create();
    icons->setIconFolderPath(folder.path().string());
    VDTunnelTableModel model(icons);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    model.setRows({tunnel({.id = 1, .bundleId = "com.example.red"}), tunnel({.id = 2, .bundleId = "com.example.none"})});
    const auto iconAt = [&](int row) {
        return model.data(model.index(row, col::kClient), Qt::DecorationRole).value<QPixmap>().toImage();
    };
    (void)iconAt(0);
    (void)iconAt(1);
    // The red record moves before its icon is read from disk.
    model.setRows({tunnel({.id = 2, .bundleId = "com.example.none"}), tunnel({.id = 1, .bundleId = "com.example.red"})});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !iconAt(1).isNull() && !iconAt(0).isNull(); }, 5000));
    EXPECT_EQ(iconAt(1).pixelColor(16, 16), QColor(Qt::red));
    EXPECT_NE(iconAt(0).pixelColor(16, 16), QColor(Qt::red));
}

// The host matches ignoring case and diacritics, an empty host never matches a text, and the
// client filter is the exact bundle id ("-1" is every client).
TEST(TunnelFilterTest, HostTextAndClientNarrowTheList)
{
    const std::tuple<const char*, const char*, Ids> cases[] = {
        {"example", "-1", {1}}, {"api.EXAMPLE", "-1", {1}}, {"munchen", "-1", {2}}, {"MÜNCH", "-1", {2}},
        {"ecole", "-1", {4}}, {"e", "-1", {1, 2, 4}}, {"nowhere", "-1", {}}, {"", "-1", {1, 2, 3, 4}}, {".", "-1", {1, 2, 4}},
        {"", "com.example.app", {1, 3}}, {"", "com.example.App", {2}}, {"", "com.example", {}}, {"example", "com.example.app", {1}},
    };
    const TunnelList records = {tunnel({.id = 1, .host = "API.Example.com", .bundleId = "com.example.app"}),
                                tunnel({.id = 2, .host = "münchen.de", .bundleId = "com.example.App"}),
                                tunnel({.id = 3, .host = "", .bundleId = "com.example.app"}),
                                tunnel({.id = 4, .host = "ÉCOLE.fr", .bundleId = ""})};
    VDTunnelFilter filter;
    for (const auto& [text, client, ids] : cases)
        EXPECT_EQ(idsOf(filter.apply(records, text, client)), ids) << '"' << text << "\" " << client;
    // "é" written as "e" followed by a combining accent.
    EXPECT_EQ(foldForSearch("Caf\x65\xCC\x81 Ωmega"), "cafe ωmega");
}

TEST(TunnelFilterTest, FoldedHostsFollowTheRecordsNotTheirPositions)
{
    VDTunnelFilter filter;
    const TunnelList first = {tunnel({.id = 1, .host = "one.example"}), tunnel({.id = 2, .host = "two.example"})};
    EXPECT_EQ(idsOf(filter.apply(first, "one", "-1")), Ids{1});
    // A grown list keeps its start; the same places holding other records are folded anew.
    TunnelList grown = first;
    grown.push_back(tunnel({.id = 3, .host = "Three.example"}));
    EXPECT_EQ(idsOf(filter.apply(grown, "three", "-1")), Ids{3});
    EXPECT_EQ(filter.foldedHosts(), 3u);
    const TunnelList replaced = {tunnel({.id = 1, .host = "uno.example"}), tunnel({.id = 2, .host = "one.example"})};
    EXPECT_EQ(idsOf(filter.apply(replaced, "one", "-1")), Ids{2});
    // Hosts are searched side by side: a match that runs from one host into the next is none,
    // and neither ends of a host hide a match that follows in it or in the next.
    const TunnelList neighbours = {tunnel({.id = 1, .host = "ab"}), tunnel({.id = 2, .host = ""}), tunnel({.id = 3, .host = "cdab"}),
                                   tunnel({.id = 4, .host = "cab"}), tunnel({.id = 5, .host = "abc"})};
    for (const auto& [text, ids] : {std::pair{"bc", Ids{5}}, {"abc", Ids{5}}, {"ab", Ids{1, 3, 4, 5}}, {"b", Ids{1, 3, 4, 5}}, {"abca", Ids{}}})
        EXPECT_EQ(idsOf(filter.apply(neighbours, text, "-1")), ids) << text;
    // Without a filter text nothing is kept.
    filter.apply(replaced, "", "-1");
    EXPECT_EQ(filter.foldedHosts(), 0u);
}

// A white canvas of a cell's size and the style option for painting on it, black text on it.
struct Canvas {
    Canvas(int width, int height, const QFont& font = QFont()) : image(width, height, QImage::Format_ARGB32)
    {
        image.fill(Qt::white);
        option.rect = image.rect();
        option.font = font;
        option.palette.setColor(QPalette::Text, Qt::black);
    }
    QImage image;
    QStyleOptionViewItem option;
};

// Painting a cell draws its image where its layout puts it and nothing where it does not.
TEST(TableCellViewTest, PaintsTheImageOfAnImageCellAndNoneOfATextCell)
{
    QStandardItemModel model(1, 2);
    QPixmap red(24, 24);
    red.fill(Qt::red);
    for (int column = 0; column < 2; ++column) {
        model.setData(model.index(0, column), red, Qt::DecorationRole);
        model.setData(model.index(0, column), "text", Qt::DisplayRole);
    }
    model.setData(model.index(0, 0), VDTableCellView::imageOnly, VDTableCellView::LayoutRole);

    const VDTableCellView delegate;
    const auto render = [&](int column) {
        Canvas canvas(40, 20);
        QPainter painter(&canvas.image);
        delegate.paint(&painter, canvas.option, model.index(0, column));
        return canvas.image;
    };
    EXPECT_EQ(render(0).pixelColor(20, 10), QColor(Qt::red));
    const QImage text = render(1);
    for (int x = 0; x < text.width(); ++x)
        ASSERT_NE(text.pixelColor(x, 10), QColor(Qt::red));
}

// A text shaped once and drawn again is drawn as the toolkit draws it from scratch, in the font,
// width and cut of each paint: nothing of an earlier paint shows in a later one.
TEST(TableCellViewTest, KeptLinesDrawAsTheTextDrawnAfresh)
{
    QStandardItemModel model(1, 1);
    const VDTableCellView delegate;
    const auto render = [&](const QString& text, const QFont& base, int width, Qt::TextElideMode elide) {
        model.setData(model.index(0, 0), text, Qt::DisplayRole);
        model.setData(model.index(0, 0), static_cast<int>(elide), VDTableCellView::ElideRole);
        Canvas canvas(width, VDTableCellView::kRowHeight, base);
        QPainter painter(&canvas.image);
        delegate.paint(&painter, canvas.option, model.index(0, 0));
        return canvas.image;
    };
    const auto drawnAfresh = [&](const QString& text, const QFont& base, int width, Qt::TextElideMode elide) {
        Canvas canvas(width, VDTableCellView::kRowHeight);
        QPainter painter(&canvas.image);
        QApplication::style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &canvas.option, &painter, nullptr);
        const QFont font = VDTableCellView::cellFont(base);
        const QRect place = VDTableCellView::placementOf(VDTableCellView::textOnly, canvas.option.rect).text;
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(place, Qt::AlignLeft | Qt::AlignVCenter, QFontMetrics(font).elidedText(text, elide, place.width()));
        painter.setPen(canvas.option.palette.color(QPalette::Midlight));
        painter.drawLine(canvas.option.rect.topRight(), canvas.option.rect.bottomRight());
        return canvas.image;
    };
    QFont bold;
    bold.setBold(true);
    const std::tuple<QString, QFont, int, Qt::TextElideMode> paints[] = {
        {"api.example.com", QFont(), 200, Qt::ElideRight}, {"api.example.com", bold, 200, Qt::ElideRight},
        {"api.example.com", QFont(), 60, Qt::ElideRight},  {"api.example.com", QFont(), 60, Qt::ElideMiddle},
        {"api.example.org", QFont(), 200, Qt::ElideRight}, {"api.example.com", QFont(), 200, Qt::ElideRight},
    };
    for (const auto& [text, base, width, elide] : paints)
        EXPECT_EQ(render(text, base, width, elide), drawnAfresh(text, base, width, elide)) << text.toStdString() << ' ' << width;
}

} // namespace
} // namespace vd
