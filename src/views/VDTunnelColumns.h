#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "VDTableCellView.h"
#include "data/VDTunnelInfo.h"

namespace vd {

// The record property a column sorts by. The client column sorts by the process id and the
// server column by the host, while they show other texts.
enum class TunnelSortKey : std::uint8_t { id_, startTime, processId, status, policyName, tx, rx, duration, method, host };

// One column of a tunnel table: how it is named, sized, sorted and drawn.
struct TunnelColumn {
    const char* identifier;
    const char* title;
    int width;
    std::optional<TunnelSortKey> sortKey;
    VDTableCellView::Layout layout;
};

namespace tunnelcolumn {
enum Index : int { kStatus, kId, kDate, kClient, kStatusString, kPolicy, kTx, kRx, kDuration, kMethod, kServer, kCount };
}

inline constexpr std::array<TunnelColumn, tunnelcolumn::kCount> kTunnelColumns{{
    {"status_column", "", 20, std::nullopt, VDTableCellView::imageOnly},
    {"id_column", "ID", 50, TunnelSortKey::id_, VDTableCellView::textOnly},
    {"date_column", "Date", 100, TunnelSortKey::startTime, VDTableCellView::textOnly},
    {"client_column", "Client", 150, TunnelSortKey::processId, VDTableCellView::imageAndText},
    {"status_string_column", "Status", 100, TunnelSortKey::status, VDTableCellView::textOnly},
    {"policy_column", "Policy", 150, TunnelSortKey::policyName, VDTableCellView::textOnly},
    {"tx_column", "Upload", 60, TunnelSortKey::tx, VDTableCellView::textOnly},
    {"rx_column", "Download", 60, TunnelSortKey::rx, VDTableCellView::textOnly},
    {"duration_column", "Duration", 70, TunnelSortKey::duration, VDTableCellView::textOnly},
    {"method_column", "Method", 50, TunnelSortKey::method, VDTableCellView::textOnly},
    {"server_column", "Server", 100, TunnelSortKey::host, VDTableCellView::textOnly},
}};

// The text a column shows for a record; empty for the image-only status column.
std::string tunnelCellText(const VDTunnelInfo& tunnel, int column);
// "--" without a policy; else the policy, with the matched rule in parentheses when there is one.
// The UDP table shows its records' policies the same way.
std::string policyText(std::string_view policyName, std::string_view ruleInfo);
std::string tunnelPolicyText(const VDTunnelInfo& tunnel);

} // namespace vd
