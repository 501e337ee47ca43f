#pragma once

#include <array>
#include <memory>

#include <QPixmap>
#include <QString>

#include "VDRecordColumn.h"
#include "data/VDUDPTunnelInfo.h"

namespace vd {

// The seven columns of the UDP table and how each shows and sorts a UDP record.
struct VDUDPColumns {
    using Row = std::shared_ptr<const VDUDPTunnelInfo>;
    enum Index : int { kStatus, kId, kDate, kClient, kStatusString, kPolicy, kServer, kCount };
    // The table only shows what the service relays; there is nothing to act on in a row.
    static constexpr bool kSelectable = false;
    using Cell = VDTableCellView;
    static constexpr std::array<VDRecordColumn, kCount> kColumns{{
        {"status_column", "", 20, 0, false, Cell::imageOnly, Cell::elideEnd},
        {"id_column", "ID", 50, 30, true, Cell::textOnly, Cell::elideEnd},
        {"date_column", "Date", 100, 30, true, Cell::textOnly, Cell::elideEnd},
        {"client_column", "Host", 200, 30, true, Cell::textOnly, Cell::elideMiddle},
        {"status_string_column", "Status", 100, 30, true, Cell::textOnly, Cell::elideEnd},
        {"policy_column", "Policy", 150, 30, true, Cell::textOnly, Cell::elideEnd},
        {"server_column", "Server", 200, 30, true, Cell::textOnly, Cell::elideMiddle},
    }};

    static QString text(const Row& record, int column);
    // A received record counts as complete, whatever its status.
    static QPixmap image(const Row& record, int column);
    // The client column sorts by the client address and the server column by the host, while
    // they show address and port.
    template <typename Use>
    static void forSortKey(int column, Use use)
    {
        switch (column) {
        case kId: use([](const Row& r) { return r->id_(); }); break;
        case kDate: use([](const Row& r) { return r->startTime(); }); break;
        case kClient: use([](const Row& r) { return r->fromHost(); }); break;
        case kStatusString: use([](const Row& r) { return static_cast<std::int64_t>(r->status()); }); break;
        case kPolicy: use([](const Row& r) { return r->policyName(); }); break;
        case kServer: use([](const Row& r) { return r->host(); }); break;
        default: break;
        }
    }
    static std::int64_t key(const Row& record) { return record->id_(); }
};

} // namespace vd
