#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "VDRecordLists.h"

namespace vd {

// The records of the previous active report, found again by their text. Between two polls
// many tunnels report byte for byte what they reported before (idle keep-alive connections),
// and comparing a text as the report carries it, escaped, costs a fraction of unescaping and
// parsing it: such a tunnel keeps its record, the very
// same object, so nothing is built and a view's selection stays on it.
//
// Texts are matched in report order first (a tunnel usually stands where it stood), then
// through an index of the previous texts for the ones that moved. A record carries the service's
// start time it was built with, so a report with another start time reuses nothing. Each
// previous record is handed out at most once per report: a report listing a text twice gets a
// record of its own for each, as if both were parsed.
//
// Not thread-safe: one report at a time, which the processor guarantees.
class UnchangedRecords {
public:
    using Make = std::function<std::shared_ptr<const VDTunnelInfo>(std::string_view text)>;

    // Starts matching a report whose records bake in `initTime`.
    void beginReport(double initTime);
    // The record of one text of the report: the previous report's record made from exactly this
    // text, unless it was handed out already in this report; else what `make` builds (null
    // for a text that makes none). The record is kept for the next report.
    std::shared_ptr<const VDTunnelInfo> recordOf(std::string_view text, const Make& make);
    // The records kept in this report are the ones the next report is matched against; the
    // previous ones are let go.
    void endReport();
    // A report that turned out unreadable leaves nothing: the next one is matched against the
    // report before it.
    void abandonReport();

private:
    struct Kept {
        TunnelList records;
        // Of each record's text, taken while the text was fresh in the cache: the previous
        // report's texts are cold, and only a likely match is worth reading them.
        std::vector<std::uint64_t> fingerprints;
        // The service's start time the records were built with.
        double initTime = 0;
    };

    // Sets `fingerprint` whenever it comes to know the text's.
    std::shared_ptr<const VDTunnelInfo> take(std::string_view text, std::optional<std::uint64_t>& fingerprint);
    std::shared_ptr<const VDTunnelInfo> takeAt(std::size_t index, std::string_view text, std::uint64_t fingerprint);
    // Fills the index of the previous texts, once per report and only when a text moved.
    void buildIndex();
    std::shared_ptr<const VDTunnelInfo> takeFromIndex(std::string_view text, std::uint64_t fingerprint);

    Kept previous_;
    Kept current_;
    // Whether the report being matched can reuse anything: the one before it had records, built
    // with the same start time.
    bool matching_ = false;
    // Where the next text is expected in the previous report.
    std::size_t cursor_ = 0;
    std::vector<std::uint8_t> taken_;
    // An open-addressing table of previous indexes + 1 (0: an empty slot), keyed by the
    // fingerprints; built lazily.
    std::vector<std::uint32_t> slots_;
    bool indexed_ = false;
};

} // namespace vd
