// HAR export of many records with bodies, fed through the writer as the exporters feed it (each
// record's captured messages fetched into fresh buffers, its entry written, the buffers let go):
//  - the peak heap the export takes above what was held before it, as a factor of the largest
//    single captured message, for 1,000 and for 10,000 records: the writer is streamed, so the
//    two peaks must be alike;
//  - the time per record, beside copying the same captured bytes alone.
// The heap is counted by replacing the global allocation functions.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include <malloc.h>

#include <nlohmann/json.hpp>

#include "BenchReport.h"
#include "BodyEncoders.h"
#include "data/VDTunnelInfo.h"
#include "data/har/HarWriter.h"

namespace {

std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapPeak{0};

void* counted(void* block)
{
    if (!block)
        throw std::bad_alloc();
    const std::size_t now = heapNow += malloc_usable_size(block);
    std::size_t peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void uncounted(void* block) noexcept
{
    if (!block)
        return;
    heapNow -= malloc_usable_size(block);
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) { return counted(std::malloc(size ? size : 1)); }
void* operator new[](std::size_t size) { return counted(std::malloc(size ? size : 1)); }
void operator delete(void* block) noexcept { uncounted(block); }
void operator delete[](void* block) noexcept { uncounted(block); }
void operator delete(void* block, std::size_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::size_t) noexcept { uncounted(block); }

namespace {

using namespace vd;

constexpr std::size_t kLargestBody = std::size_t{8} << 20;

// Counts what is written and keeps none of it, so only the writer's own memory is measured.
class DiscardingBuffer : public std::streambuf {
public:
    std::size_t written = 0;

protected:
    int_type overflow(int_type c) override
    {
        written += c == traits_type::eof() ? 0 : 1;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize count) override
    {
        written += static_cast<std::size_t>(count);
        return count;
    }
};

std::string gzipped(const std::string& text)
{
    const Bytes coded = sim::gzipOf(Bytes(text.begin(), text.end()));
    return std::string(coded.begin(), coded.end());
}

std::string noise(std::size_t size, std::uint64_t seed)
{
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::string jsonText(std::size_t size)
{
    std::string text = "[";
    for (int i = 0; text.size() < size; ++i)
        text += "{\"id\":" + std::to_string(i) + ",\"name\":\"item " + std::to_string(i) + "\",\"tags\":[\"a\",\"b\"]},";
    text.back() = ']';
    return text;
}

struct Exchange {
    std::shared_ptr<const VDTunnelInfo> record;
    std::string request;
    std::string response;
};

std::string responseHead(const std::string& type, const std::string& coding, std::size_t length)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n" + (coding.empty() ? "" : "Content-Encoding: " + coding + "\r\n") +
           "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

// A few kinds of exchange, the largest of them once in a while: an API's gzip JSON answer, a
// form post, an image, and a large download.
std::vector<Exchange> makeExchanges()
{
    struct Kind {
        std::string type;
        std::string coding;
        std::string body;
        std::string post;
    };
    const std::vector<Kind> kinds{
        {"application/json", "gzip", gzipped(jsonText(48 * 1024)), ""},
        {"text/html", "", std::string(6 * 1024, 'h'), "user=someone&q=a+b"},
        {"image/png", "", noise(200 * 1024, 7), ""},
        {"application/octet-stream", "", noise(kLargestBody, 11), ""},
    };
    std::vector<Exchange> exchanges;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const Kind& kind = kinds[k];
        const std::string method = kind.post.empty() ? "GET" : "POST";
        const std::string head = method + " /item/" + std::to_string(k) + "?page=2 HTTP/1.1\r\nHost: shop.example\r\nCookie: s=1\r\n" +
                                 (kind.post.empty() ? "" : "Content-Type: application/x-www-form-urlencoded\r\n") + "\r\n";
        const std::string rspHead = responseHead(kind.type, kind.coding, kind.body.size());
        nlohmann::json text{{"id", k}, {"type", 1}, {"host", "shop.example"}, {"port", 80}, {"ipAddr", "192.0.2.1"},
                            {"t_start", 10.0}, {"t_server_ready", 10.01}, {"t_dns_resolved", 10.02},
                            {"t_proxy_ready", 10.05}, {"t_end", 10.5}, {"headerString", head}, {"responseHeader", rspHead},
                            {"hasSend", !kind.post.empty()}, {"hasReceive", true}};
        const std::string request = kind.post.empty() ? std::string()
                                                      : head.substr(0, head.size() - 2) + "Content-Length: " +
                                                            std::to_string(kind.post.size()) + "\r\n\r\n" + kind.post;
        exchanges.push_back({VDTunnelInfo::initWithJSONString(text.dump(), 1.7e9), request, rspHead + kind.body});
    }
    return exchanges;
}

const std::vector<Exchange>& exchanges()
{
    static const std::vector<Exchange> made = makeExchanges();
    return made;
}

// The largest body comes once in every this many records.
constexpr std::size_t kLargeEvery = 50;

const Exchange& exchangeFor(std::size_t index)
{
    const auto& all = exchanges();
    return index % kLargeEvery == kLargeEvery - 1 ? all.back() : all[index % (all.size() - 1)];
}

Bytes fetched(const std::string& captured)
{
    return Bytes(captured.begin(), captured.end());
}

std::size_t exportRecords(std::size_t count)
{
    DiscardingBuffer sink;
    std::ostream out(&sink);
    har::HarWriter writer(out, {har::kCreatorName, "bench"});
    for (std::size_t i = 0; i < count; ++i) {
        const Exchange& exchange = exchangeFor(i);
        const Bytes request = fetched(exchange.request);
        const Bytes response = fetched(exchange.response);
        writer.add(*exchange.record, {request, response});
    }
    writer.finish();
    return sink.written;
}

std::size_t copyRecords(std::size_t count)
{
    std::size_t copied = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Exchange& exchange = exchangeFor(i);
        const Bytes request = fetched(exchange.request);
        const Bytes response = fetched(exchange.response);
        benchmark::DoNotOptimize(response.data());
        copied += request.size() + response.size();
    }
    return copied;
}

void exported(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(exportRecords(static_cast<std::size_t>(state.range(0))));
}

void copied(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(copyRecords(static_cast<std::size_t>(state.range(0))));
}

BENCHMARK(exported)->Name("har/export")->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(copied)->Name("har/copy_only")->Arg(1000)->Unit(benchmark::kMillisecond);

void printMemory()
{
    const std::size_t largest = exchanges().back().response.size();
    std::printf("\nPeak heap of the export above what was held before it, largest captured message %.1f MiB:\n",
                static_cast<double>(largest) / vd::bench::kMiB);
    for (const std::size_t count : {std::size_t{1000}, std::size_t{10000}}) {
        const std::size_t before = heapNow.load();
        heapPeak = before;
        const std::size_t written = exportRecords(count);
        const double peak = static_cast<double>(heapPeak.load() - before);
        std::printf("  %5zu records, %7.1f MiB written: %6.1f MiB = %.2fx the largest message\n", count,
                    static_cast<double>(written) / vd::bench::kMiB, peak / vd::bench::kMiB, peak / static_cast<double>(largest));
    }
}

} // namespace

int main(int argc, char** argv)
{
    return vd::bench::run(argc, argv, [] { return !exchanges().empty(); }, [](const vd::bench::RecordingReporter& reporter) {
        std::printf("\nExport time beside copying the captured bytes alone (1000 records): %s\n",
                    vd::bench::ratio(reporter.secondsPerIteration("har/copy_only/1000"),
                                     reporter.secondsPerIteration("har/export/1000")).c_str());
        printMemory();
    });
}
