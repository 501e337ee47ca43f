#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Table.h"
#include "data/VDDNSInfo.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUDPTunnelInfo.h"

namespace vd::ctl {

// How each kind of record reads: as a table row for people (sizes, speeds, times and
// durations formatted as the dashboard shows them) and as a JSON object for scripts (raw
// numbers: ids, bytes, bytes per second, seconds since 1970, seconds).
using JsonObject = nlohmann::ordered_json;

// `finished`: recent records, which have an end and a status instead of a current speed.
Table tunnelTable(bool finished);
std::vector<std::string> tunnelRow(const VDTunnelInfo& tunnel, bool finished);
JsonObject tunnelJson(const VDTunnelInfo& tunnel);

Table udpTable();
// Widths for UDP rows printed as they arrive.
std::vector<std::size_t> udpColumnWidths();
std::vector<std::string> udpRow(const VDUDPTunnelInfo& record);
JsonObject udpJson(const VDUDPTunnelInfo& record);

Table dnsTable();
std::vector<std::string> dnsRow(const VDDNSInfo& entry);
JsonObject dnsJson(const VDDNSInfo& entry);

// One object, one line. Texts from the service that are not valid UTF-8 are repaired rather
// than ending the output halfway.
void printJsonLine(std::ostream& out, const JsonObject& object);

} // namespace vd::ctl
