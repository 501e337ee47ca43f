#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "../Commands.h"
#include "../RecordOutput.h"
#include "VdVersion.h"
#include "data/AtomicFile.h"
#include "data/VDTunnelInfo.h"
#include "data/har/HarWriter.h"

namespace vd::ctl {
namespace {

// Every record of a requested id, oldest first; a request for records the service no longer
// keeps (or never had) fails, naming them.
TunnelList recordsOfIds(Session& session, const std::vector<std::int64_t>& ids)
{
    auto& processer = session.processer();
    const std::set<std::int64_t> wanted(ids.begin(), ids.end());
    // The service places each record above its id, so asking from the smallest id reaches
    // every wanted one.
    session.roundTrip([&] { processer.requestRecentRecordFromId(*wanted.begin()); }, "the recent tunnels");
    TunnelList records;
    std::set<std::int64_t> missing = wanted;
    for (auto& record : processer.recentTunnelInfos()) {
        if (wanted.contains(record->id_())) {
            missing.erase(record->id_());
            records.push_back(std::move(record));
        }
    }
    if (!missing.empty()) {
        std::string list;
        for (const std::int64_t id : missing)
            list += (list.empty() ? "" : ", ") + std::to_string(id);
        throw Failure(kExitFailed, "the service has no recent record " + list);
    }
    return records;
}

TunnelList recentRecords(Session& session, std::int64_t count)
{
    auto& processer = session.processer();
    // An empty answer posts nothing, hence the round trip instead of waiting for the post.
    session.roundTrip([&] { processer.requestRecentRecordCount(count); }, "the recent tunnels");
    return processer.recentTunnelInfos();
}

// What the entry of one record is made from, fetched one message at a time. A tunnel the
// service forgot meanwhile shows without bodies.
Bytes capturedOrNothing(Session& session, const VDTunnelInfo& record, bool request)
{
    return fetchCapturedMessage(session, record.id_(), request).value_or(Bytes());
}

} // namespace

ExitCode exportHar(Session& session, const Options& options, std::ostream& out)
{
    TunnelList records = options.ids.empty() ? recentRecords(session, options.count) : recordsOfIds(session, options.ids);
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a->id_() < b->id_(); });

    const std::string& path = options.outputFile;
    const auto file = AtomicFileWriter::create(path);
    if (!file)
        throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));
    har::HarWriter writer(file->stream(), {har::kCreatorName, VD_VERSION_TEXT});
    for (const auto& record : records) {
        const Bytes request = har::HarWriter::wantsRequestMessage(*record) ? capturedOrNothing(session, *record, true) : Bytes();
        const Bytes response = har::HarWriter::wantsResponseMessage(*record) ? capturedOrNothing(session, *record, false) : Bytes();
        writer.add(*record, {request, response});
        if (!file->stream())
            break;
    }
    writer.finish();
    if (!file->commit())
        throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));

    if (options.json) {
        printJsonLine(out, {{"file", path}, {"entries", writer.entriesWritten()}, {"leftOut", writer.recordsLeftOut()}});
    } else {
        out << "wrote " << writer.entriesWritten() << " entries to " << path << "; left out "
            << writer.recordsLeftOut() << " records without HTTP\n";
    }
    return kExitOk;
}

} // namespace vd::ctl
