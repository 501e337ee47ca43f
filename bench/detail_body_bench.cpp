// The body view of the detail pane with bodies too large to lay out at once, offscreen, each
// figure beside a baseline from the same run:
//  - a 16 MiB binary body: from parserData to its hex dump drawn at its end, and the longest the
//    GUI thread was held meanwhile (a 5 ms heartbeat's longest gap), beside the time formatting
//    the whole dump in one go would hold it;
//  - a 4 MiB body of one line of text: from parserData to the text drawn, beside decoding that
//    text once, which any view showing it has to do;
//  - a 16 MiB JSON body sent gzip-coded, shown in Pretty mode: from parserData to the coloured,
//    indented text drawn, and the longest the GUI thread was held meanwhile.

#include <algorithm>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

#include "BenchReport.h"
#include "BodyEncoders.h"
#include "data/VDUtils.h"
#include "views/VDHexDumpView.h"
#include "views/VDLongTextView.h"
#include "views/VDTunnelDetailDataView.h"
#include "views/VDUserDefaults.h"

namespace {

using namespace vd;

constexpr std::size_t kBinarySize = std::size_t{16} << 20;
constexpr std::size_t kTextSize = std::size_t{4} << 20;
constexpr std::size_t kJsonSize = std::size_t{16} << 20;

std::string message(const char* contentType, const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(contentType) + "\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string binaryBody()
{
    std::string body(kBinarySize, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& byte : body) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 24);
    }
    return body;
}

// Minified JSON: one line without a space.
std::string textBody()
{
    std::string body(kTextSize, 'x');
    for (std::size_t i = 0; i < kTextSize; i += 97)
        body[i] = static_cast<char>('a' + i % 26);
    return body;
}

// An API answer of many small objects, minified.
std::string jsonBody()
{
    std::string body = "{\"items\":[";
    for (int i = 0; body.size() < kJsonSize; ++i) {
        body += (i ? ",{" : "{") + std::string("\"id\":") + std::to_string(i) + ",\"name\":\"item-" + std::to_string(i * 7919) +
                "\",\"price\":" + std::to_string(i % 1000) + ".25,\"tags\":[\"a\",\"b\"],\"ok\":true,\"next\":null}";
    }
    return body + "]}";
}

Bytes asBytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

void spinUntil(const auto& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The longest gap between two beats of a 5 ms timer while it runs.
class Heartbeat {
public:
    Heartbeat()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.restart());
        });
    }
    void start()
    {
        clock_.start();
        timer_.start();
    }
    void stop()
    {
        longest_ = std::max(longest_, clock_.elapsed());
        timer_.stop();
    }
    double longestMs() const { return static_cast<double>(longest_); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

struct Inputs {
    const std::string binary = binaryBody();
    const std::string binaryMessage = message("application/octet-stream", binary);
    const std::string text = textBody();
    const std::string textMessage = message("application/json", text);
    const std::string json = jsonBody();
    const std::string gzipJsonMessage = gzipMessage(json);
    VDTunnelDetailDataView view;
    double longestHexHoldMs = 0;
    double longestPrettyHoldMs = 0;

    static std::string gzipMessage(const std::string& json)
    {
        const Bytes coded = sim::gzipOf({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()});
        return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nContent-Length: " +
               std::to_string(coded.size()) + "\r\n\r\n" + std::string(coded.begin(), coded.end());
    }
};

Inputs* inputs = nullptr;

void hexOurs(benchmark::State& state)
{
    auto& view = inputs->view;
    Heartbeat heartbeat;
    for (auto _ : state) {
        state.PauseTiming();
        view.parserData(std::nullopt);
        Bytes captured = asBytes(inputs->binaryMessage);
        heartbeat.start();
        state.ResumeTiming();
        view.parserData(std::move(captured));
        spinUntil([&] { return view.isShowingHex() && view.hexView()->lineCount() == static_cast<std::int64_t>(kBinarySize / 16); });
        // Scrolled to the end and drawn there, as a user would look at it.
        view.hexView()->verticalScrollBar()->setValue(view.hexView()->verticalScrollBar()->maximum());
        view.repaint();
        QCoreApplication::processEvents();
        state.PauseTiming();
        heartbeat.stop();
        state.ResumeTiming();
    }
    inputs->longestHexHoldMs = heartbeat.longestMs();
}

void hexWholeDump(benchmark::State& state)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(inputs->binary.data());
    for (auto _ : state)
        benchmark::DoNotOptimize(VDUtils::hexStringOfData({data, inputs->binary.size()}));
}

void textOurs(benchmark::State& state)
{
    auto& view = inputs->view;
    for (auto _ : state) {
        state.PauseTiming();
        view.parserData(std::nullopt);
        Bytes captured = asBytes(inputs->textMessage);
        state.ResumeTiming();
        view.parserData(std::move(captured));
        spinUntil([&] { return !view.longTextView()->text().isEmpty(); });
        view.repaint();
    }
}

void prettyOurs(benchmark::State& state)
{
    auto& view = inputs->view;
    view.chooseMode(VDBodyMode::pretty);
    Heartbeat heartbeat;
    for (auto _ : state) {
        state.PauseTiming();
        view.parserData(std::nullopt);
        Bytes captured = asBytes(inputs->gzipJsonMessage);
        heartbeat.start();
        state.ResumeTiming();
        view.parserData(std::move(captured));
        spinUntil([&] { return view.shownMode() == VDBodyMode::pretty && !view.longTextView()->text().isEmpty(); });
        view.repaint();
        QCoreApplication::processEvents();
        state.PauseTiming();
        heartbeat.stop();
        state.ResumeTiming();
    }
    view.chooseMode(VDBodyMode::raw);
    inputs->longestPrettyHoldMs = heartbeat.longestMs();
}

void textDecode(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QString::fromUtf8(inputs->text.data(), static_cast<qsizetype>(inputs->text.size())));
}

void printFigures(const bench::RecordingReporter& reporter)
{
    const auto seconds = [&](const char* name) { return reporter.secondsPerIteration(name); };
    std::printf("\n16 MiB binary body\n");
    if (const auto whole = seconds("hex/whole_dump")) {
        std::printf("  longest GUI hold %.0f ms; the whole dump at once %.0f ms: %s shorter\n", inputs->longestHexHoldMs,
                    *whole * 1e3, bench::ratio(*whole * 1e3, std::max(inputs->longestHexHoldMs, 1.0)).c_str());
    }
    std::printf("  shown at its end in %s the time of formatting the whole dump at once\n",
                bench::ratio(seconds("hex/ours"), seconds("hex/whole_dump")).c_str());
    std::printf("\n4 MiB one-line text body\n");
    std::printf("  shown in %s the time of decoding its text once\n",
                bench::ratio(seconds("text/ours"), seconds("text/decode")).c_str());
    std::printf("\n16 MiB JSON body, gzip-coded, in Pretty mode\n");
    if (const auto pretty = seconds("pretty/ours"))
        std::printf("  shown in %.0f ms; longest GUI hold %.0f ms (heartbeat every 5 ms)\n", *pretty * 1e3, inputs->longestPrettyHoldMs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Inputs fixture;
    inputs = &fixture;
    fixture.view.resize(700, 400);
    fixture.view.show();
    const auto unit = benchmark::kMillisecond;
    return bench::run(argc, argv, [&] {
        benchmark::RegisterBenchmark("hex/ours", hexOurs)->Iterations(5)->Unit(unit);
        benchmark::RegisterBenchmark("hex/whole_dump", hexWholeDump)->Iterations(5)->Unit(unit);
        benchmark::RegisterBenchmark("text/ours", textOurs)->Iterations(5)->Unit(unit);
        benchmark::RegisterBenchmark("text/decode", textDecode)->Iterations(5)->Unit(unit);
        benchmark::RegisterBenchmark("pretty/ours", prettyOurs)->Iterations(3)->Unit(unit);
        return true;
    }, printFigures);
}
