#include <random>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "DetailFixture.h"
#include "support/BytesOf.h"
#include "views/VDByteSearch.h"
#include "views/VDFindBar.h"
#include "views/VDFindTargets.h"
#include "views/VDHexDumpView.h"
#include "views/VDLongTextView.h"
#include "views/VDSegmentedControl.h"
#include "views/VDTunnelDetailDataView.h"
#include "views/VDTunnelDetailViewController.h"

namespace vd {
namespace {

using Pane = VDTunnelDetailViewController;

QString countOf(const VDFindBar& bar)
{
    return bar.countLabel()->text();
}

// Pixels of the palette's selection colour in the widget as painted: the current match.
int selectedPixels(QWidget& view)
{
    const QImage image = view.grab().toImage();
    const QRgb selected = view.palette().color(QPalette::Highlight).rgb();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == selected;
    }
    return count;
}

class FindInPaneTest : public testing::Test {
protected:
    FindInPaneTest()
    {
        pane.resize(900, 500);
        pane.show();
        pane.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&pane));
        pane.setTunnelInfo(test::detailRecord(
            {{"headerString", "GET /a HTTP/1.1\r\nHost: example.com\r\nAccept: text/html\r\n"},
             {"responseHeader", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 12\r\nX-Content: none\r\n"}}));
        pane.segmentedControl()->segment(Pane::kResponseHeader)->click();
    }
    VDFindBar& bar() { return *pane.findBar(); }
    QPlainTextEdit& text() { return *pane.contentView()->findChild<QPlainTextEdit*>(); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(bar().queryField(), key, modifiers);
    }

    Pane pane{"TEST-FIND"};
};

TEST_F(FindInPaneTest, HeaderMatchesAreCountedSteppedWithWrapAndMarkedAndEscapeGivesFocusBack)
{
    pane.openFindBar();
    ASSERT_TRUE(bar().isVisible());
    ASSERT_TRUE(bar().queryField()->hasFocus());
    QTest::keyClicks(bar().queryField(), "CONTENT");
    EXPECT_EQ(countOf(bar()), "1 of 3");
    EXPECT_EQ(text().textCursor().selectedText(), "Content");
    // Every match marked, the current one once more on top.
    EXPECT_EQ(text().extraSelections().size(), 4);

    press(Qt::Key_Return);
    EXPECT_EQ(countOf(bar()), "2 of 3");
    press(Qt::Key_Return);
    press(Qt::Key_Return);
    EXPECT_EQ(countOf(bar()), "1 of 3") << "past the last match it starts again at the first";
    press(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(countOf(bar()), "3 of 3");
    EXPECT_EQ(text().textCursor().selectedText(), "Content") << "the one in X-Content";
    bar().previousButton()->click();
    EXPECT_EQ(countOf(bar()), "2 of 3");

    // Typing on narrows the query without moving off the current match while it still fits.
    QTest::keyClicks(bar().queryField(), "-L");
    EXPECT_EQ(countOf(bar()), "1 of 1");
    EXPECT_EQ(text().textCursor().selectedText(), "Content-L");
    QTest::keyClicks(bar().queryField(), "zz");
    EXPECT_EQ(countOf(bar()), "No matches");
    EXPECT_FALSE(bar().nextButton()->isEnabled());
    EXPECT_TRUE(text().extraSelections().isEmpty());

    // Another tab is searched as soon as it shows; the General figures cannot be.
    bar().queryField()->setText("html");
    EXPECT_EQ(countOf(bar()), "1 of 1");
    pane.segmentedControl()->segment(Pane::kRequestHeader)->click();
    EXPECT_EQ(countOf(bar()), "1 of 1");
    bar().queryField()->setText("e");
    EXPECT_EQ(bar().countLabel()->text().section(' ', 1), "of " + QString::number(text().toPlainText().count('e', Qt::CaseInsensitive)));
    pane.segmentedControl()->segment(Pane::kGeneral)->click();
    EXPECT_EQ(countOf(bar()), "No matches");
    pane.segmentedControl()->segment(Pane::kRequestHeader)->click();

    // Ctrl+F again while open selects the query for a new one.
    bar().queryField()->deselect();
    pane.openFindBar();
    EXPECT_EQ(bar().queryField()->selectedText(), "e");

    press(Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());
    EXPECT_TRUE(text().hasFocus());
    EXPECT_TRUE(text().extraSelections().isEmpty());
    // F3 in the pane brings it back with the query it had.
    QTest::keyClick(&text(), Qt::Key_F3);
    EXPECT_TRUE(bar().isVisible());
    EXPECT_FALSE(text().extraSelections().isEmpty());
}

// Views fed bodies directly, searched by a bar of their own.
class FindInBodyTest : public test::DataViewTest {
protected:
    FindInBodyTest() { bar.show(); }
    void showBody(const std::string& body)
    {
        view.parserData(test::bytesOf("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.storeData() && view.storeData()->size() == body.size(); }, 30000));
        bar.setTarget(view.findTarget());
    }
    void find(const QString& query) { bar.queryField()->setText(query); }

    VDFindBar bar;
};

TEST_F(FindInBodyTest, AMatchFarDownALazyTextScrollsThereAndIsPaintedAndTheCountStopsAtItsCap)
{
    // Two megabytes of short lines, too many for the editor widget; the needle once near the
    // end, and once across the cut between two segments of a long line.
    std::string body;
    for (int line = 0; line < 200000; ++line)
        body += "line " + std::to_string(line) + "\n";
    body += std::string(VDLongTextView::kSegmentChars - 3, 'x') + "NeEdLe\n";
    body += "the needle\n";
    showBody(body);
    ASSERT_TRUE(view.longTextView()->isVisible());
    find("needle");
    EXPECT_EQ(countOf(bar), "1 of 2");
    // The cut one is on the lines after the 200000 short ones.
    EXPECT_EQ(view.longTextView()->currentMatchLine(), 200000);
    bar.findNext();
    EXPECT_EQ(countOf(bar), "2 of 2");
    auto* lazy = view.longTextView();
    EXPECT_EQ(lazy->currentMatchLine(), 200002);
    EXPECT_GE(lazy->currentMatchLine(), lazy->firstVisibleLine());
    EXPECT_LT(lazy->currentMatchLine(), lazy->firstVisibleLine() + lazy->visibleLineCount());
    EXPECT_GT(selectedPixels(*lazy->viewport()), 0);

    // "line " is everywhere: the count stops at its cap, and the last match is still reached.
    find("LINE ");
    EXPECT_EQ(countOf(bar), "1 of 1000+");
    EXPECT_EQ(lazy->currentMatchLine(), 0);
    bar.findPrevious();
    EXPECT_EQ(countOf(bar), "1000+ matches");
    EXPECT_EQ(lazy->currentMatchLine(), 199999);
    bar.findNext();
    EXPECT_EQ(countOf(bar), "1 of 1000+") << "past the last match it wraps to the first";

    // New content is searched afresh: no mark of the old one stays.
    showBody("no such word here");
    EXPECT_EQ(countOf(bar), "No matches");
    EXPECT_EQ(selectedPixels(*view.textView()->viewport()), 0);
}

TEST_F(FindInBodyTest, AHexDumpIsSearchedByItsBytesAcrossLinesAsHexDigitsOrAsText)
{
    std::string body(200, '\xFE');
    body.replace(15, 2, "\x1F\x8B");
    body.replace(100, 2, "\x1F\x8B");
    body.replace(150, 4, "\x89PNG");
    showBody(body);
    ASSERT_TRUE(view.isShowingHex());
    auto* hex = view.hexView();

    for (const char* query : {"1F 8B", "1f8b", " 1F8B "}) {
        SCOPED_TRACE(query);
        find(query);
        EXPECT_EQ(countOf(bar), "1 of 2");
        // Bytes 15 and 16: the end of the first line and the start of the second.
        EXPECT_EQ(hex->currentMatchLine(), 0);
    }
    EXPECT_GT(selectedPixels(*hex->viewport()), 0);
    bar.findNext();
    EXPECT_EQ(hex->currentMatchLine(), 100 / 16);

    // Letters are their bytes in either case; digits that are no whole bytes are text.
    find("png");
    EXPECT_EQ(countOf(bar), "1 of 1");
    EXPECT_EQ(hex->currentMatchLine(), 150 / 16);
    find("1F8");
    EXPECT_EQ(countOf(bar), "No matches");
    find("FE FE FE");
    EXPECT_EQ(countOf(bar), "1 of 63") << "matches do not overlap";
}

TEST(FindInTable, AFormsCellsAreFoundRowByRowAndANewFormIsSearchedAfresh)
{
    QTreeWidget form;
    form.setHeaderLabels({"Key", "Value"});
    for (const auto& [key, value] : {std::pair{"user", "alice"}, std::pair{"token", "abc"}, std::pair{"next", "/Home"}})
        form.addTopLevelItem(new QTreeWidgetItem({key, value}));
    form.show();
    VDFindBar bar;
    bar.show();
    bar.setTarget(makeFindTarget(form));
    bar.queryField()->setText("E");
    // "user", "alice", "token", "next" and "/Home", cell by cell.
    EXPECT_EQ(countOf(bar), "1 of 5");
    EXPECT_EQ(form.currentIndex(), form.model()->index(0, 0));
    bar.findNext();
    EXPECT_EQ(form.currentIndex(), form.model()->index(0, 1));
    bar.findPrevious();
    bar.findPrevious();
    EXPECT_EQ(countOf(bar), "5 of 5");
    EXPECT_EQ(form.currentIndex(), form.model()->index(2, 1));

    form.clear();
    form.addTopLevelItem(new QTreeWidgetItem({"q", "nothing"}));
    EXPECT_EQ(countOf(bar), "No matches");
}

TEST(ByteFinder, FindsWhatAPlainScanFindsInBothDirections)
{
    std::mt19937 random(21);
    for (int round = 0; round < 300; ++round) {
        // A small alphabet, so matches are many and partial ones more so.
        Bytes bytes(random() % 200);
        for (auto& b : bytes)
            b = "xXyY\x00\xFF"[random() % 6];
        const bool hex = round % 2 == 0;
        QString query;
        for (std::size_t i = 1 + random() % 4; i > 0; --i)
            query += hex ? QString("00 FF 78 58 79").split(' ')[static_cast<int>(random() % 5)] : QString("xXyY")[static_cast<int>(random() % 4)];
        const VDBytePattern pattern = bytePatternOf(query);
        ASSERT_EQ(pattern.ignoreCase, !hex) << query.toStdString();
        const auto same = [&](std::size_t at) {
            for (std::size_t j = 0; j < pattern.bytes.size(); ++j) {
                auto a = bytes[at + j], b = pattern.bytes[j];
                if (pattern.ignoreCase) {
                    a = static_cast<std::uint8_t>(std::tolower(a));
                    b = static_cast<std::uint8_t>(std::tolower(b));
                }
                if (a != b)
                    return false;
            }
            return true;
        };
        const VDByteFinder finder(pattern);
        for (std::size_t from = 0; from <= bytes.size() + 1; ++from) {
            std::optional<std::size_t> first, last;
            for (std::size_t at = 0; at + pattern.bytes.size() <= bytes.size(); ++at) {
                if (same(at) && at >= from && !first)
                    first = at;
                if (same(at) && at < from)
                    last = at;
            }
            ASSERT_EQ(finder.forward(bytes, from), first) << query.toStdString() << " from " << from;
            ASSERT_EQ(finder.backward(bytes, from), last) << query.toStdString() << " before " << from;
        }
    }
}

} // namespace
} // namespace vd
