#include <filesystem>

#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "BinaryFormats.h"
#include "BodyEncoders.h"
#include "DetailFixture.h"
#include "data/PrettyBody.h"
#include "support/BytesOf.h"
#include "support/ChildProcess.h"
#include "views/VDBodyModeBar.h"
#include "views/VDTunnelDetailDataView.h"
#include "views/VDUserDefaults.h"

namespace vd {
namespace {

using Mode = VDBodyMode;
using Modes = std::vector<VDBodyMode>;
using test::bytesOf;

const std::string kJson = R"({"items":[{"id":1,"name":"caf\u00e9","price":1.50E+2,"tags":[]}],"next":null,"ok":true})";
const std::string kHtml = "<!DOCTYPE html><html><head><meta charset=utf-8><title>t</title></head><body><p>a&copy;b<br></p></body></html>";

std::string textOf(const Bytes& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// A response carrying `body` as it went over the wire, announced by these head fields.
Bytes response(const std::string& fields, const Bytes& body)
{
    return bytesOf("HTTP/1.1 200 OK\r\n" + fields + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + textOf(body));
}

class BodyModesTest : public test::DataViewTest {
protected:
    BodyModesTest()
    {
        userDefaults()->remove(kModeKey);
        view.setContentName("Response Data");
    }
    ~BodyModesTest() override { userDefaults()->remove(kModeKey); }

    // Shows a body in a mode (remembered first, as a user's earlier choice would be) and waits
    // for what is worked out off the GUI thread: a large body's parse, then the mode's content.
    void show(const Bytes& message, Mode mode = Mode::raw)
    {
        const auto before = view.storeData();
        view.chooseMode(mode);
        view.parserData(message);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.storeData() != before && view.textView()->toPlainText() != "Loading"; }, 30000));
    }
    // The editor's highlighter colours the text once the event loop has run.
    bool coloured() const
    {
        QCoreApplication::processEvents();
        // The line of the first key.
        const QTextBlock line = view.textView()->document()->findBlockByNumber(1);
        return !line.layout()->formats().isEmpty();
    }

    static constexpr const char* kModeKey = "com.lumenforge.vantordashboard.bodyview.mode";
};

// Every coding the web sends, undone; Raw, the default, still shows the bytes as they came.
TEST_F(BodyModesTest, CodedBodiesDecodeAndPrettyPrintWhileRawStaysAsReceived)
{
    const Bytes json = bytesOf(kJson);
    const Bytes html = bytesOf(kHtml);
    struct Case {
        std::string coding;
        Bytes coded;
        const Bytes& plain;
    } cases[] = {
        {"gzip", sim::gzipOf(json), json},       {"br", sim::brotliOf(html), html},
        {"zstd", sim::zstdOf(json), json},       {"deflate", sim::zlibOf(html), html},
        {"deflate", sim::rawDeflateOf(json), json}, {"gzip, br", sim::brotliOf(sim::gzipOf(json)), json},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.coding);
        const bool isJson = &c.plain == &json;
        const Bytes message = response(std::string("Content-Type: ") + (isJson ? "application/json" : "text/html") +
                                           "\r\nContent-Encoding: " + c.coding + "\r\n", c.coded);
        show(message);
        EXPECT_EQ(view.modes(), (Modes{Mode::raw, Mode::decoded, Mode::pretty}));
        EXPECT_EQ(*view.storeData(), c.coded);
        EXPECT_TRUE(view.modeBar()->isVisible());

        show(message, Mode::decoded);
        EXPECT_EQ(view.shownText(), textOf(c.plain));
        EXPECT_TRUE(view.exportDecodedButton()->isVisible());
        show(message, Mode::pretty);
        const std::string plain = textOf(c.plain);
        EXPECT_EQ(view.shownText(), isJson ? prettyJson(plain).text : prettyHtml(plain).text);
        EXPECT_EQ(coloured(), isJson);
        EXPECT_EQ(view.note(), "");
    }
    // Every control a user reaches is named for screen readers, and Tab goes from the switch to the body.
    for (QWidget* widget : view.findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->focusPolicy() & Qt::TabFocus) {
            EXPECT_FALSE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty())
                << widget->metaObject()->className();
        }
    }
    EXPECT_EQ(view.modeBar()->findChildren<QToolButton*>().constLast()->nextInFocusChain(), view.textView());

    // A body without a coding or a readable form offers Raw alone, and the switch stays hidden.
    show(response("Content-Type: text/plain\r\n", bytesOf("hello")), Mode::pretty);
    EXPECT_EQ(view.modes(), Modes{Mode::raw});
    EXPECT_EQ(view.shownMode(), Mode::raw);
    EXPECT_FALSE(view.modeBar()->isVisible());
    EXPECT_EQ(view.shownText(), "hello");
}

// Bodies that cannot be shown the chosen way say why in one line and show what they can.
TEST_F(BodyModesTest, TruncatedAndInvalidBodiesSayWhy)
{
    Bytes cut = sim::gzipOf(bytesOf(kJson));
    cut.resize(cut.size() / 2);
    show(response("Content-Type: application/json\r\nContent-Encoding: gzip\r\n", cut), Mode::decoded);
    EXPECT_FALSE(view.note().isEmpty());

    show(response("Content-Type: application/json\r\n", bytesOf(R"({"a": [1, 2,)")), Mode::pretty);
    EXPECT_FALSE(view.note().isEmpty());
    EXPECT_EQ(view.shownText(), R"({"a": [1, 2,)");
}

TEST_F(BodyModesTest, FormsAreTablesAndImagesArePicturesWithTheirSize)
{
    show(response("Content-Type: application/x-www-form-urlencoded\r\n", bytesOf("a=1+2&b=%C3%A9%2F&c")), Mode::pretty);
    ASSERT_EQ(view.formTable()->topLevelItemCount(), 3);
    EXPECT_EQ(view.shownText(), "a = 1 2\nb = é/\nc = \n");

    std::vector<std::uint8_t> pixels(20 * 10 * 4, 0x80);
    const Bytes png = sim::encodePng(20, 10, pixels);
    show(response("Content-Type: image/png\r\n", png), Mode::image);
    EXPECT_EQ(view.modes(), (Modes{Mode::raw, Mode::image}));
    EXPECT_EQ(view.note(), "20 × 10 PNG");
    EXPECT_EQ(view.imageLabel()->pixmap().size(), QSize(20, 10));
    // "Export as bin" still writes the bytes as they came.
    EXPECT_EQ(*view.storeData(), png);
}

// The last mode chosen is the one the next body opens in, wherever it applies; "Export
// Decoded…" writes what Decoded shows.
TEST_F(BodyModesTest, TheChosenModeIsRememberedAndExportDecodedWritesTheDecodedBytes)
{
    const Bytes message = response("Content-Type: application/json\r\nContent-Encoding: gzip\r\n", sim::gzipOf(bytesOf(kJson)));
    show(message, Mode::pretty);
    VDTunnelDetailDataView next;
    next.parserData(message);
    EXPECT_EQ(next.shownMode(), Mode::pretty);
    next.parserData(response("", bytesOf("plain")));
    EXPECT_EQ(next.shownMode(), Mode::raw);

    const auto file = dir / "decoded.json";
    view.exportDecodedButton()->click();
    auto* dialog = view.window()->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(file.string()));
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(file); }, 10000));
    EXPECT_EQ(test::readFile(file), kJson);
}

} // namespace
} // namespace vd
