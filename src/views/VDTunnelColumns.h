#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include <QPixmap>
#include <QString>

#include "VDRecordColumn.h"
#include "data/VDTunnelInfo.h"

namespace vd {

// The columns of a tunnel table and how each shows and sorts a tunnel record: eleven shown, then
// four read from the HTTP exchange (its code, path and response content) that the user may add.
// The client column's icon comes from the icon cache, which the tunnel model asks.
struct VDTunnelColumns {
    using Row = std::shared_ptr<const VDTunnelInfo>;
    enum Index : int { kStatus, kId, kDate, kClient, kStatusString, kPolicy, kTx, kRx, kDuration, kMethod, kServer,
                 kCode, kPath, kContentType, kContentLength, kCount };
    static constexpr bool kSelectable = true;
    // Every column but the status column can be made as narrow as the header allows.
    static constexpr int kNarrowest = 1;
    using Cell = VDTableCellView;
    static constexpr std::array<VDRecordColumn, kCount> kColumns{{
        {"status_column", "", 20, 0, false, Cell::imageOnly, Cell::elideEnd},
        {"id_column", "ID", 50, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"date_column", "Date", 100, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"client_column", "Client", 150, kNarrowest, true, Cell::imageAndText, Cell::elideEnd},
        {"status_string_column", "Status", 100, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"policy_column", "Policy", 150, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"tx_column", "Upload", 60, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"rx_column", "Download", 60, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"duration_column", "Duration", 70, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"method_column", "Method", 50, kNarrowest, true, Cell::textOnly, Cell::elideEnd},
        {"server_column", "Server", 100, kNarrowest, true, Cell::textOnly, Cell::elideMiddle},
        {"code_column", "Code", 45, kNarrowest, true, Cell::textOnly, Cell::elideEnd, true},
        {"path_column", "URL/Path", 200, kNarrowest, true, Cell::textOnly, Cell::elideMiddle, true},
        {"content_type_column", "Content Type", 120, kNarrowest, true, Cell::textOnly, Cell::elideEnd, true},
        {"content_length_column", "Content Length", 70, kNarrowest, true, Cell::textOnly, Cell::elideEnd, true},
    }};

    static QString text(const Row& tunnel, int column);
    // The status image; the client icon is the model's.
    static QPixmap image(const Row& tunnel, int column);
    // The client column sorts by the process id and the server column by the host, while they
    // show other texts.
    template <typename Use>
    static void forSortKey(int column, Use use)
    {
        switch (column) {
        case kId: use([](const Row& t) { return t->id_(); }); break;
        case kDate: use([](const Row& t) { return t->startTime(); }); break;
        case kClient: use([](const Row& t) { return t->processId(); }); break;
        case kStatusString: use([](const Row& t) { return static_cast<std::int64_t>(t->status()); }); break;
        case kPolicy: use([](const Row& t) { return t->policyName(); }); break;
        case kTx: use([](const Row& t) { return t->tx(); }); break;
        case kRx: use([](const Row& t) { return t->rx(); }); break;
        case kDuration: use([](const Row& t) { return t->duration(); }); break;
        case kMethod: use([](const Row& t) { return methodRank(t->type()); }); break;
        case kServer: use([](const Row& t) { return t->host(); }); break;
        case kCode: use([](const Row& t) { return t->code(); }); break;
        case kPath: use([](const Row& t) { return path(*t); }); break;
        case kContentType: use([](const Row& t) { return responseField(*t, "Content-Type"); }); break;
        case kContentLength: use([](const Row& t) { return contentLength(*t); }); break;
        default: break;
        }
    }
    static std::int64_t key(const Row& tunnel) { return tunnel->id_(); }
    // An open connection's duration grows; every other key is read from the record as it arrived.
    static constexpr bool sortKeyChangesWithTime(int column) { return column == kDuration; }

    // A response code that reports a failure: the client's (4xx) or the server's (5xx).
    static bool failedCode(const VDTunnelInfo& tunnel) { return tunnel.code() >= 400; }

private:
    // Read from the record's header blocks for the rows drawn or sorted: empty without HTTP.
    static std::string path(const VDTunnelInfo& tunnel);
    static std::string responseField(const VDTunnelInfo& tunnel, std::string_view name);
    // -1 without the field, so such rows sort before any length.
    static std::int64_t contentLength(const VDTunnelInfo& tunnel);

    // The method text follows from the record type, and the named types, HTTP to UDP, are in
    // the order of their names, with "UNKNOWN" after them: the type sorts the method without a
    // text made for every row.
    static std::int64_t methodRank(TunnelProtocol type)
    {
        const auto number = static_cast<std::int64_t>(type);
        constexpr auto first = static_cast<std::int64_t>(TunnelProtocol::http);
        constexpr auto last = static_cast<std::int64_t>(TunnelProtocol::udp);
        return number >= first && number <= last ? number : last + 1;
    }
};

// "--" without a policy; else the policy, with the matched rule in parentheses when there is one.
// The UDP table shows its records' policies the same way.
std::string policyText(std::string_view policyName, std::string_view ruleInfo);

} // namespace vd
