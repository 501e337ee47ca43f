#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "JsonWriter.h"

namespace vd {
class VDTunnelInfo;
}

namespace vd::har {

// Who wrote a log: the dashboard and vantorctl alike, each with its build's version.
inline constexpr const char* kCreatorName = "Vantor Dashboard";

struct HarCreator {
    std::string name;
    std::string version;
};

// What the service captured of one record's exchange: the whole request and response messages
// (start line, header block, body) as it sends them; empty when nothing was captured.
struct CapturedMessages {
    std::span<const std::uint8_t> request;
    std::span<const std::uint8_t> response;
};

// Writes an HTTP Archive (format 1.2) to a stream one entry at a time: the log's head when made,
// then each record's entry as it is added, then the end. Only the record being added and its
// bodies are held, so a log of any length costs the memory of its largest exchange.
//
// An entry shows the exchange a proxy client would recognise: for decrypted HTTPS the request
// and response inside TLS, else the plain ones, each header block as it was received. Response
// bodies appear decoded (content coding undone), as text when they are UTF-8 and in Base64
// otherwise. Records that carry no HTTP exchange (plain TCP, UDP, a CONNECT whose traffic was
// not decrypted) are left out and counted. The same records and captured bytes always give the
// same bytes out; entries come in the order they are added, which the callers keep by record id.
class HarWriter {
public:
    HarWriter(std::ostream& out, const HarCreator& creator);
    HarWriter(const HarWriter&) = delete;
    HarWriter& operator=(const HarWriter&) = delete;

    static bool carriesHttp(const VDTunnelInfo& tunnel);
    // Which captured messages an entry is made from: what a caller fetches before add().
    static bool wantsRequestMessage(const VDTunnelInfo& tunnel);
    static bool wantsResponseMessage(const VDTunnelInfo& tunnel);

    // Writes the record's entry, or counts it as left out when it carries no HTTP.
    void add(const VDTunnelInfo& tunnel, CapturedMessages captured);
    // Closes the log; nothing may be added afterwards.
    void finish();

    std::size_t entriesWritten() const { return written_; }
    std::size_t recordsLeftOut() const { return leftOut_; }

private:
    JsonWriter json_;
    std::size_t written_ = 0;
    std::size_t leftOut_ = 0;
};

} // namespace vd::har
