#include <chrono>
#include <functional>

#include <QElapsedTimer>
#include <QScrollBar>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "DetailFixture.h"
#include "WindowFixtures.h"
#include "data/CurlCommand.h"
#include "data/VDNotifications.h"
#include "data/VDUtils.h"
#include "support/BytesOf.h"
#include "support/ChildProcess.h"
#include "views/VDCapturedMessageFetch.h"
#include "views/VDHexDumpView.h"
#include "views/VDLongTextView.h"
#include "views/VDTunnelDetailDataView.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

std::string asString(const Bytes& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// Exports through the save dialog as a user would, into `file`.
void exportTo(VDTunnelDetailDataView& view, const std::filesystem::path& file)
{
    view.exportButton()->click();
    auto* dialog = view.window()->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(dialog->selectedFiles().value(0).endsWith(".bin"));
    dialog->selectFile(QString::fromStdString(file.string()));
    static_cast<QDialog*>(dialog)->accept();
}

// A window whose processor is connected to the simulated service over its local socket.
class BodyViewTest : public test::RecordListServiceFixture {
protected:
    BodyViewTest() : RecordListServiceFixture(40ms, 40) {}

    // The first `count` records of a status that pass `wanted`, from the active list or from
    // the recent one, which is asked for again now and then while the service's traffic grows;
    // fewer when they do not come.
    TunnelList recordsWhere(TunnelStatus status, std::size_t count, const std::function<bool(const VDTunnelInfo&)>& wanted)
    {
        const bool active = status == TunnelStatus::active;
        TunnelList found;
        QElapsedTimer sinceAsked;
        (void)QTest::qWaitFor([&] {
            if (!active && (!sinceAsked.isValid() || sinceAsked.hasExpired(100))) {
                processer->requestRecentRecordCount(500);
                sinceAsked.start();
            }
            found.clear();
            for (const auto& record : active ? processer->currentTunnelInfos() : processer->recentTunnelInfos()) {
                if (found.size() < count && record->status() == status && wanted(*record))
                    found.push_back(record);
            }
            return found.size() == count;
        }, 20000);
        return found;
    }
    std::unique_ptr<VDTunnelDetailDataView> viewOf(const std::shared_ptr<const VDTunnelInfo>& record, bool direct)
    {
        auto view = std::make_unique<VDTunnelDetailDataView>();
        view->resize(700, 400);
        view->show();
        view->setId(idString, record, direct);
        return view;
    }
    static bool waitUntilShown(const VDTunnelDetailDataView& view)
    {
        return QTest::qWaitFor([&] { return view.shownText() != "Loading" && view.shownText() != "No Data"; }, 10000);
    }
};

TEST_F(BodyViewTest, JsonIsLoadingUntilItArrivesThenTextWhichExportWritesAndOnlyItsWindowsArrivalReplaces)
{
    const TunnelList found = recordsWhere(TunnelStatus::completed, 1, [](const VDTunnelInfo& candidate) {
        const std::string headers = candidate.responseHeaderString();
        const auto has = [&](const char* text) { return headers.find(text) != std::string::npos; };
        return candidate.hasReceive() && has("application/json") && !has("gzip") && !has("chunked");
    });
    ASSERT_EQ(found.size(), 1u);
    const auto& record = found.front();
    // Nothing is stored for it yet: the service is asked, and the view says "Loading" until the
    // arrival is announced. How a body is cut from its message is the parser's, tested there.
    std::vector<std::string> atArrival;
    std::unique_ptr<VDTunnelDetailDataView> view;
    const auto token = NotificationCenter::defaultCenter()->addObserver(kDumpResponseReceive, nullptr, [&](const Notification&) {
        if (view && atArrival.empty())
            atArrival.push_back(view->shownText());
    });
    view = viewOf(record, false);
    ASSERT_TRUE(waitUntilShown(*view));
    EXPECT_EQ(atArrival, std::vector<std::string>{"Loading"});
    EXPECT_FALSE(view->isShowingHex());
    EXPECT_TRUE(nlohmann::json::accept(view->shownText()));
    EXPECT_EQ(view->textView()->font().family(), QFont().family());
    EXPECT_EQ(asString(*view->storeData()), view->shownText());

    // The body, not the captured message with its headers.
    const auto file = dir_ / "export.bin";
    exportTo(*view, file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(file); }, 5000));
    EXPECT_EQ(test::readFile(file), view->shownText());
    const std::string first = view->shownText();

    // Both windows now hold another body under the same record id.
    const auto other = VDDataManager::sharedInstance().bindProcesserId(idString + "-other");
    const std::string message = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nHello";
    other->dumpManager()->storeResponseData(test::bytesOf(message), record->id_());
    processer->dumpManager()->storeResponseData(test::bytesOf(message), record->id_());
    NotificationCenter::defaultCenter()->post(kDumpResponseReceive, nullptr, VDBodyArrival{other->dumpManager().get(), record->id_()});
    NotificationCenter::defaultCenter()->post(kDumpRequestReceive, nullptr, VDBodyArrival{processer->dumpManager().get(), record->id_()});
    NotificationCenter::defaultCenter()->post(kDumpResponseReceive, nullptr, VDBodyArrival{processer->dumpManager().get(), record->id_() + 1});
    // An arrival the view took would hop to the GUI thread and read on the store's serial queue;
    // once those hops have run, a read asked after them answers after theirs.
    QCoreApplication::processEvents();
    bool flushed = false;
    processer->dumpManager()->readResponseDataForRecord(record->id_(), [&](std::optional<Bytes>) { flushed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return flushed; }, 5000));
    EXPECT_EQ(view->shownText(), first);
    VDDataManager::sharedInstance().removeId(idString + "-other");

    // Its own window's arrival is shown in place of the earlier body, not after it.
    NotificationCenter::defaultCenter()->post(kDumpResponseReceive, nullptr, VDBodyArrival{processer->dumpManager().get(), record->id_()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->shownText() == "Hello"; }, 5000));
    EXPECT_EQ(asString(*view->storeData()), "Hello");
}

TEST_F(BodyViewTest, ActiveRecordShowsNoDataAtOnceThenTheBodyWhenItArrives)
{
    const TunnelList active = recordsWhere(TunnelStatus::active, 2, [](const VDTunnelInfo& candidate) { return candidate.hasSend(); });
    ASSERT_EQ(active.size(), 2u);

    // Fetched from the service, the request body shows in the end, whichever of the service's
    // answer and the store's empty one comes first.
    auto fetched = viewOf(active[0], true);
    ASSERT_TRUE(waitUntilShown(*fetched));
    EXPECT_FALSE(fetched->shownText().empty());
    fetched.reset();

    // Without a service to answer, the view must not wait at "Loading" for an answer that never
    // comes; the body shows once its arrival is announced.
    processer->disconnect();
    auto view = viewOf(active[1], true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->shownText() == "No Data"; }, 5000));
    const std::string message = "POST /upload HTTP/1.1\r\nContent-Length: 5\r\n\r\nHello";
    processer->dumpManager()->storeRequestData(test::bytesOf(message), active[1]->id_());
    NotificationCenter::defaultCenter()->post(kDumpRequestReceive, nullptr, VDBodyArrival{processer->dumpManager().get(), active[1]->id_()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->shownText() == "Hello"; }, 5000));
}

// A curl command carries the request body the service sends for a completed record; without a
// service to answer, the fetch gives up after its patience rather than leave the copy hanging.
TEST_F(BodyViewTest, ACurlCommandWaitsForTheCapturedRequestBodyButNotForever)
{
    const TunnelList sent = recordsWhere(TunnelStatus::completed, 2, [](const VDTunnelInfo& candidate) { return candidate.hasSend(); });
    ASSERT_EQ(sent.size(), 2u);
    const auto fetch = [&](const std::shared_ptr<const VDTunnelInfo>& record, std::chrono::milliseconds patience) {
        std::optional<std::optional<Bytes>> answer;
        QObject context;
        fetchCapturedMessage(&context, idString, record, true, patience, [&](std::optional<Bytes> bytes) { answer = bytes; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 15000));
        return answer.value_or(std::nullopt);
    };
    const auto command = curlCommand(*sent[0], fetch(sent[0], 10s));
    ASSERT_TRUE(command);
    EXPECT_NE(command->find("\n  --data-binary '"), std::string::npos) << *command;

    processer->disconnect();
    EXPECT_FALSE(fetch(sent[1], 100ms));
}

// Views fed directly, without a service.
using BodyViewLocalTest = test::DataViewTest;

// How long such bodies hold the GUI thread is measured by the detail body benchmark.
TEST_F(BodyViewLocalTest, SixteenMegabyteBinaryBodyIsDumpedWhole)
{
    constexpr std::size_t kSize = 16 * 1024 * 1024;
    // Bytes that are never UTF-8.
    const std::string message = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n" + std::string(kSize, '\xFE');

    view.parserData(test::bytesOf(message));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.isShowingHex(); }, 30000));
    // Scroll to the end and paint there, as a user would.
    view.hexView()->verticalScrollBar()->setValue(view.hexView()->verticalScrollBar()->maximum());
    view.repaint();
    EXPECT_EQ(view.storeData()->size(), kSize);
    EXPECT_EQ(view.hexView()->lineCount(), static_cast<std::int64_t>(kSize / 16));
    EXPECT_EQ(view.shownText().size(), VDUtils::hexStringOfData(*view.storeData()).size());
}

TEST_F(BodyViewLocalTest, NothingCapturedShowsNoDataAndOneLineMegabytesAreShownLazily)
{
    view.parserData(std::nullopt);
    EXPECT_EQ(view.shownText(), "No Data");
    const auto file = dir / "nothing.bin";
    // With nothing to write the export decides at once, before any writing would start.
    exportTo(view, file);
    EXPECT_FALSE(std::filesystem::exists(file));

    // A message cut short gives no answer: the view keeps what it shows.
    view.parserData(test::bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"));
    EXPECT_EQ(view.shownText(), "No Data");
    // Bytes that are nearly UTF-8 are never shown with replacement characters.
    view.parserData(test::bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab\xC3("));
    EXPECT_TRUE(view.isShowingHex());
    EXPECT_EQ(view.shownText(), " 61 62 C3 28 ");
    EXPECT_TRUE(view.hexView()->isVisible() && !view.textView()->isVisible());
    EXPECT_EQ(view.hexView()->font().family(), VDHexDumpView::fixedFont().family());

    // A minified body: one line of 4 MiB without a space, which an editor widget would take
    // minutes to wrap.
    constexpr std::size_t kSize = 4 * 1024 * 1024;
    std::string body(kSize, 'x');
    for (std::size_t i = 0; i < kSize; i += 97)
        body[i] = static_cast<char>('a' + i % 26);
    const std::string message = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n" + body;

    view.parserData(test::bytesOf(message));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.longTextView()->text().isEmpty(); }, 30000));
    view.repaint();
    EXPECT_FALSE(view.isShowingHex());
    EXPECT_EQ(view.longTextView()->lineCount(), static_cast<std::int64_t>((kSize + VDLongTextView::kSegmentChars - 1) / VDLongTextView::kSegmentChars));
    EXPECT_EQ(view.shownText(), body);
    EXPECT_TRUE(view.textView()->toPlainText().isEmpty());

    // A small body after it goes back to the editor widget, where it can be selected.
    view.parserData(test::bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n{\"a\":1}"));
    EXPECT_TRUE(view.longTextView()->text().isEmpty());
    EXPECT_EQ(view.shownText(), "{\"a\":1}");
}

TEST(LongTextView, LinesAreCutIntoSegmentsAndCrlfEndsALine)
{
    VDLongTextView view;
    view.setText(QString(2500, QChar('a')) + "\r\nend\n");
    // 1000 + 1000 + 500, "end", and the empty line after the last break. That one long line and
    // very many short ones are laid out lazily is the body views' and the find bar's cases.
    EXPECT_EQ(view.lineCount(), 5);
}

} // namespace
} // namespace vd
