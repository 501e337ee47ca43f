#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

#include "DetailFixture.h"
#include "views/VDLabel.h"
#include "views/VDSectionView.h"
#include "views/VDSegmentedControl.h"
#include "views/VDTunnelDetailGeneralView.h"
#include "views/VDTunnelDetailTextView.h"
#include "views/VDTunnelDetailViewController.h"

namespace vd {
namespace {

using test::detailRecord;
using Pane = VDTunnelDetailViewController;

class DetailPaneTest : public testing::Test {
protected:
    DetailPaneTest()
    {
        pane.resize(900, 400);
        pane.show();
    }
    std::vector<bool> enabledTabs() const
    {
        std::vector<bool> enabled;
        for (int i = 0; i < pane.segmentedControl()->segmentCount(); ++i)
            enabled.push_back(pane.segmentedControl()->segment(i)->isEnabled());
        return enabled;
    }
    void choose(int segment) { QTest::mouseClick(pane.segmentedControl()->segment(segment), Qt::LeftButton); }
    static QString line(const VDSectionView* section, int which)
    {
        return which == 1 ? section->section1() + " " + section->text1Label()->text()
                          : section->section2() + " " + section->text2Label()->text();
    }

    Pane pane{"TEST-DETAIL"};
};

TEST_F(DetailPaneTest, TabsFollowWhatTheRecordCarriesAndOpeningAlwaysLandsOnGeneral)
{
    EXPECT_EQ(pane.contentView(), nullptr);
    pane.setTunnelInfo(detailRecord());
    EXPECT_EQ(enabledTabs(), (std::vector<bool>{true, true, false, false, false, false}));
    EXPECT_EQ(pane.contentView(), pane.generalView());

    pane.setTunnelInfo(detailRecord({{"id", 8}, {"headerString", "GET / HTTP/1.1\r\n"}, {"responseHeader", "HTTP/1.1 200 OK\r\n"},
                                     {"hasSend", true}, {"hasReceive", true}}));
    EXPECT_EQ(enabledTabs(), std::vector<bool>(6, true));
    choose(Pane::kRequestHeader);
    auto* text = qobject_cast<VDTunnelDetailTextView*>(pane.contentView());
    ASSERT_NE(text, nullptr);
    // Header lines end in CRLF; each shows as one line break.
    EXPECT_EQ(text->textView()->toPlainText().toStdString(), "Request Header:\n\nGET / HTTP/1.1\n\n\n\n");
    EXPECT_TRUE(text->textView()->isReadOnly());

    // Only the response side this time; the pane comes back to General although a header tab
    // was shown, and the request tabs are off.
    pane.setTunnelInfo(detailRecord({{"id", 9}, {"responseHeader", "HTTP/1.1 204 No Content\r\n"}, {"hasReceive", true}}));
    EXPECT_EQ(pane.segmentedControl()->selectedSegment(), Pane::kGeneral);
    EXPECT_EQ(pane.contentView(), pane.generalView());
    EXPECT_EQ(enabledTabs(), (std::vector<bool>{true, true, false, true, false, true}));
    // The time tab shows the breakdown with bold labels; the same record opened again also lands
    // on General.
    pane.setTunnelInfo(detailRecord({{"t_server_ready", 10.2}, {"t_dns_resolved", 10.5}, {"t_proxy_ready", 11.0}}));
    choose(Pane::kTime);
    text = qobject_cast<VDTunnelDetailTextView*>(pane.contentView());
    ASSERT_NE(text, nullptr);
    QString expected;
    for (const auto& run : pane.tunnelInfo()->timeAttributedString())
        expected += QString::fromStdString(run.text);
    EXPECT_EQ(text->textView()->toPlainText(), expected);
    const bool bold = pane.tunnelInfo()->timeAttributedString().front().bold;
    EXPECT_EQ(text->textView()->document()->firstBlock().begin().fragment().charFormat().fontWeight(), bold ? QFont::Bold : QFont::Normal);
    pane.setTunnelInfo(pane.tunnelInfo());
    EXPECT_EQ(pane.segmentedControl()->selectedSegment(), Pane::kGeneral);
}

TEST_F(DetailPaneTest, HeaderAndGeneralBoxesFollowWhatTheRecordCarries)
{
    // The values in the boxes are the record's, pinned where the record is tested; what the pane
    // decides is the rule or the outbound mode, the speed's title, and what stands for a missing value.
    pane.setTunnelInfo(detailRecord());
    EXPECT_EQ(pane.processNameLabel()->text(), "Mail");
    EXPECT_EQ(pane.statusLabel()->text(), " Completed ");
    const auto* general = pane.generalView();
    EXPECT_EQ(line(general->policySection(), 1), "Rule: DOMAIN-SUFFIX,example.com");
    EXPECT_EQ(general->speedSection()->title(), "Average Speed");

    // No code (a TCP tunnel), no resolved address, another outbound mode, still running.
    pane.setTunnelInfo(detailRecord({{"id", 3}, {"type", 4}, {"ipAddr", ""}, {"outboundMode", "DIRECT MODE"}, {"t_end", 0.0},
                                     {"processName", ""}, {"host", ""}}));
    EXPECT_EQ(pane.processNameLabel()->text(), "10.0.0.5:50123");
    EXPECT_EQ(pane.urlLabel()->text(), "--");
    EXPECT_EQ(pane.statusLabel()->text(), " Active ");
    // The default icon comes for a record naming no bundle.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pane.iconView()->pixmap().isNull(); }, 5000));
    EXPECT_EQ(line(general->httpSection(), 2), "Code: --");
    EXPECT_EQ(line(general->ipSection(), 2), "Remote: --");
    EXPECT_EQ(line(general->policySection(), 1), "Outbound: DIRECT MODE");
    EXPECT_EQ(general->speedSection()->title(), "Speed");
}

TEST_F(DetailPaneTest, RefreshKeepsSelectionHeaderAndTabContentUnlessSomethingChanged)
{
    pane.setTunnelInfo(detailRecord());
    auto* host = pane.generalView()->otherSection()->text1Label();
    host->setSelection(0, 3);
    ASSERT_EQ(host->selectedText(), "api");

    // A newer copy with the same figures: nothing is set again, so the selection stays.
    pane.updateTunnelInfo(detailRecord());
    EXPECT_EQ(host->selectedText(), "api");
    // New figures show at once, but the header texts wait for the pane to be opened again.
    pane.updateTunnelInfo(detailRecord({{"rx", 5}, {"processName", "Other"}, {"t_end", 0.0}}));
    EXPECT_EQ(host->selectedText(), "api");
    EXPECT_EQ(pane.generalView()->trafficSection()->text2Label()->text().left(1), "5");
    EXPECT_EQ(pane.generalView()->speedSection()->title(), "Speed");
    EXPECT_EQ(pane.processNameLabel()->text(), "Mail");
    EXPECT_EQ(pane.statusLabel()->text(), " Completed ");

    // Another tab of the same record keeps its view through a reset; another record gets a
    // new one.
    choose(Pane::kTime);
    QWidget* timeView = pane.contentView();
    pane.updateTunnelInfoAndResetDetail(detailRecord({{"rx", 6}}));
    EXPECT_EQ(pane.contentView(), timeView);
    EXPECT_EQ(pane.processNameLabel()->text(), "Mail");
    QPointer<QWidget> watch = timeView;
    pane.updateTunnelInfoAndResetDetail(detailRecord({{"id", 99}}));
    EXPECT_TRUE(watch.isNull());
    EXPECT_NE(pane.contentView(), nullptr);
}

} // namespace
} // namespace vd
