#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "VDRecordLists.h"

namespace vd {

// The records of the previous active report, found again by their text. Between two polls
// many tunnels report byte for byte what they reported before (idle keep-alive connections),
// and comparing a text costs a fraction of parsing it: such a tunnel keeps its record, the very
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
    // Starts matching a report whose records bake in `initTime`.
    void beginReport(double initTime);
    // The previous report's record made from exactly `text`, or null: the text is new or
    // changed, or its record was handed out already in this report.
    std::shared_ptr<const VDTunnelInfo> take(std::string_view text);
    // This report's records are the ones the next report is matched against; the previous ones
    // are let go.
    void endReport(TunnelList records);

private:
    std::shared_ptr<const VDTunnelInfo> takeAt(std::size_t index, std::string_view text);
    // Fills the index of the previous texts, once per report and only when a text moved.
    void buildIndex();
    std::shared_ptr<const VDTunnelInfo> takeFromIndex(std::string_view text);

    TunnelList previous_;
    double previousInitTime_ = 0;
    // Whether the report being matched can reuse anything: the one before it had records, built
    // with the same start time.
    bool matching_ = false;
    // Where the next text is expected in the previous report.
    std::size_t cursor_ = 0;
    std::vector<std::uint8_t> taken_;
    // An open-addressing table of previous indexes + 1 (0: an empty slot), keyed by a
    // fingerprint of the text; built lazily.
    std::vector<std::uint32_t> slots_;
    std::vector<std::uint64_t> fingerprints_;
    bool indexed_ = false;
};

} // namespace vd
