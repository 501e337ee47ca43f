#include <cerrno>
#include <cstring>
#include <fstream>

#include <unistd.h>

#include "Commands.h"
#include "RecordOutput.h"
#include "data/CapturedBody.h"
#include "data/VDNotifications.h"
#include "platform/NotificationCenter.h"

namespace vd::ctl {
namespace {

// Bytes a terminal would not show as text: control characters other than the usual white
// space (escape sequences included, which would drive the terminal), and anything that is
// not UTF-8.
bool looksBinary(const Bytes& data)
{
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t byte = data[i];
        if (byte < 0x80) {
            if ((byte < 0x20 && (byte < 0x09 || byte > 0x0D)) || byte == 0x7F)
                return true;
            ++i;
            continue;
        }
        std::size_t length = 0;
        if ((byte & 0xE0) == 0xC0 && byte >= 0xC2)
            length = 2;
        else if ((byte & 0xF0) == 0xE0)
            length = 3;
        else if ((byte & 0xF8) == 0xF0 && byte <= 0xF4)
            length = 4;
        else
            return true;
        if (i + length > data.size())
            return true;
        for (std::size_t k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return true;
        }
        i += length;
    }
    return false;
}

void writeFile(const std::string& path, const Bytes& data)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file)
        file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    file.close();
    if (!file)
        throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));
}

} // namespace

// The service sends the body to the processor, which stores it in the dump store and then
// announces it on the main thread; the bytes are read back from the store from there.
std::optional<Bytes> fetchCapturedMessage(Session& session, std::int64_t id, bool request)
{
    auto& processer = session.processer();
    const std::string what = std::string("the ") + (request ? "request" : "response") + " body of tunnel " + std::to_string(id);

    bool arrived = false;
    const auto* store = processer.dumpManager().get();
    const ObservationToken token = NotificationCenter::defaultCenter()->addObserver(
        request ? kDumpRequestReceive : kDumpResponseReceive, nullptr, [&](const Notification& notification) {
            const auto* arrival = std::any_cast<VDBodyArrival>(&notification.userInfo);
            if (arrival && arrival->manager == store && arrival->id == id)
                arrived = true;
        });
    // A tunnel the service does not know is answered with a refusal the processor passes
    // over: the round trip ends without an arrival then. The arrival is posted to the main
    // thread before the round trip's end is, so it has been seen by the time that ends.
    session.roundTrip([&] { request ? processer.getTunnelRequestData(id) : processer.getTunnelResponseData(id); }, what);
    if (!arrived)
        return std::nullopt;

    bool read = false;
    Bytes data;
    processer.dumpManager()->readDataForRecord(id, request, [&](std::optional<Bytes> bytes) {
        // An empty body is never stored, so nothing to read is an empty body.
        if (bytes)
            data = std::move(*bytes);
        read = true;
    });
    session.waitUntil([&] { return read; }, session.timeout(), "the stored body");
    return data;
}

ExitCode fetchBody(Session& session, const Options& options, std::ostream& out)
{
    const std::int64_t id = options.id;
    const bool request = options.requestBody;
    const char* part = request ? "request" : "response";
    const std::string what = std::string("the ") + part + " body of tunnel " + std::to_string(id);
    auto captured = fetchCapturedMessage(session, id, request);
    if (!captured)
        throw Failure(kExitFailed, "the service has no tunnel " + std::to_string(id));
    Bytes data = std::move(*captured);

    std::string problem;
    if (options.decoded) {
        DecodedContent decoded = decodedBodyOf(data, request);
        data = std::move(decoded.bytes);
        problem = std::move(decoded.problem);
    }
    // What was decoded is written before the failure is reported, like a partial download.
    const auto failIfUndecoded = [&] {
        if (!problem.empty())
            throw Failure(kExitFailed, what + ": " + problem);
    };

    if (!options.outputFile.empty()) {
        writeFile(options.outputFile, data);
        if (options.json)
            printJsonLine(out, {{"id", id}, {"part", part}, {"bytes", data.size()}, {"file", options.outputFile}});
        else
            out << "wrote " << data.size() << " bytes of " << what << " to " << options.outputFile << '\n';
        failIfUndecoded();
        return kExitOk;
    }
    if (isatty(STDOUT_FILENO) == 1 && looksBinary(data))
        throw Failure(kExitFailed, what + " is binary (" + std::to_string(data.size()) +
                                       " bytes): save it with -o FILE or pipe it");
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    failIfUndecoded();
    return kExitOk;
}

} // namespace vd::ctl
