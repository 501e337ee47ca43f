#include "ChaosPackets.h"

#include <array>
#include <string_view>
#include <vector>

#include "JsonText.h"
#include "platform/Base64.h"

namespace vd::sim::chaos {
namespace {

using namespace std::string_view_literals;

Bytes withTerminator(std::string_view text)
{
    Bytes bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), std::begin(QNComPacket::kTerminator), std::end(QNComPacket::kTerminator));
    return bytes;
}

Dictionary wrongValue(ChaosPlan& plan)
{
    switch (plan.below(14)) {
    case 0: return "text";
    case 1: return "";
    case 2: return Dictionary::object({{"k", 1}});
    case 3: return Dictionary::array();
    case 4: return Dictionary::array({1, "two", nullptr});
    case 5: return nullptr;
    case 6: return true;
    case 7: return 1e308;
    case 8: return -1e308;
    case 9: return std::numeric_limits<std::uint64_t>::max();
    case 10: return std::numeric_limits<std::int64_t>::min();
    case 11: return -1;
    case 12: return 0.5;
    default: return std::string(64 * 1024, '9');
    }
}

// Every value below the top: members of objects and items of lists, depth first.
void collectSlots(Dictionary& value, std::vector<Dictionary*>& slots)
{
    if (!value.is_structured())
        return;
    for (auto& child : value) {
        slots.push_back(&child);
        collectSlots(child, slots);
    }
}

std::string slotName(const Dictionary& root, const Dictionary* slot)
{
    // Paths are looked up only for the log line; packets have a few hundred values at most.
    std::string found;
    const auto search = [&](const auto& self, const Dictionary& value, const std::string& path) -> bool {
        if (&value == slot) {
            found = path;
            return true;
        }
        if (value.is_object()) {
            for (auto it = value.begin(); it != value.end(); ++it) {
                if (self(self, it.value(), path + "/" + it.key()))
                    return true;
            }
        } else if (value.is_array()) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                if (self(self, value[i], path + "/" + std::to_string(i)))
                    return true;
            }
        }
        return false;
    };
    search(search, root, "");
    return found;
}

} // namespace

Dictionary envelope(contract::Command cmd, Dictionary data, std::int64_t id)
{
    return Dictionary::object({{"v", 1}, {"c", 1}, {"i", id}, {"t", contract::numberOf(cmd)}, {"d", std::move(data)}});
}

Bytes wireOf(const Dictionary& packet) { return wireFromJson(packet.dump(-1, ' ', false, Dictionary::error_handler_t::replace)); }

Bytes garbagePacket(ChaosPlan& plan, Dictionary& detail)
{
    const auto base64Of = [](std::string_view text) {
        return base64::encode({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    switch (plan.below(8)) {
    case 0: {
        // Any byte but the terminator's first, so the packet ends where it should.
        std::string bytes(1 + plan.below(4096), '\0');
        for (auto& byte : bytes) {
            byte = static_cast<char>(plan.below(256));
            if (static_cast<std::uint8_t>(byte) == QNComPacket::kTerminator[0])
                byte = 'x';
        }
        detail["garbage"] = "random bytes";
        detail["length"] = bytes.size();
        return withTerminator(bytes);
    }
    case 1: detail["garbage"] = "outside the alphabet"; return withTerminator("eyJ2Ijox!!!LCJjIjoxfQ==");
    case 2: detail["garbage"] = "line break"; return withTerminator("eyJ2IjoxLCJj\nIjoxfQ==");
    case 3: detail["garbage"] = "padding inside"; return withTerminator("eyJ2=IjoxLCJjIjoxfQ==");
    case 4: detail["garbage"] = "terminator alone"; return withTerminator("");
    case 5: detail["garbage"] = "not JSON"; return withTerminator(base64Of("{\"v\":1,\"c\":1,\"t\":51,\"d\":{\"tunnels\":[\"{"));
    case 6: {
        static constexpr std::array kNotObjects{"[1,2,3]"sv, "42"sv, "\"text\""sv, "null"sv, "true"sv, "-1e999"sv};
        const auto json = plan.pick(kNotObjects);
        detail["garbage"] = "JSON that is not an object";
        detail["json"] = json;
        return withTerminator(base64Of(json));
    }
    default: {
        const std::size_t depth = 2000 + plan.below(100000);
        detail["garbage"] = "nested lists";
        detail["depth"] = depth;
        return withTerminator(base64Of(std::string(depth, '[') + std::string(depth, ']')));
    }
    }
}

std::string garbageBase64(ChaosPlan& plan, Dictionary& detail)
{
    static constexpr std::array kTexts{"!!! not base64 !!!"sv, "QUJD=QUJD"sv, "Q"sv, "===="sv, "QU JD\nRUZH"sv, "%%%%"sv,
                                       "iVBORw0KGgo"sv, "-_-_"sv};
    std::string text(plan.pick(kTexts));
    if (plan.percent(25))
        text = std::string(1 + plan.below(100000), '*');
    detail["base64"] = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    return text;
}

Dictionary withWrongType(Dictionary packet, ChaosPlan& plan, Dictionary& detail)
{
    std::vector<Dictionary*> slots;
    collectSlots(packet, slots);
    if (slots.empty())
        return packet;
    Dictionary* slot = slots[plan.below(slots.size())];
    detail["field"] = slotName(packet, slot);
    // A record travels as a JSON text inside the packet: its own fields get the same treatment.
    if (slot->is_string() && plan.percent(60)) {
        auto record = Dictionary::parse(slot->get_ref<const std::string&>(), nullptr, false);
        if (record.is_object() && !record.empty()) {
            Dictionary inner = Dictionary::object();
            record = withWrongType(std::move(record), plan, inner);
            detail["inner"] = std::move(inner);
            *slot = record.dump(-1, ' ', false, Dictionary::error_handler_t::replace);
            return packet;
        }
    }
    *slot = wrongValue(plan);
    detail["value"] = slot->is_string() && slot->get_ref<const std::string&>().size() > 40 ? Dictionary("<long text>") : *slot;
    return packet;
}

std::string hugeSizeMessage(ChaosPlan& plan, Dictionary& detail)
{
    static constexpr std::array kMessages{
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999\r\n\r\nshort body"sv,
        "POST /upload HTTP/1.1\r\nHost: example.com\r\nContent-Length: 18446744073709551615\r\n\r\nabc"sv,
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999999\r\n\r\nabc"sv,
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffff\r\nabc"sv,
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffff\r\nabc\r\n0\r\n\r\n"sv,
        "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\nContent-Length: 5\r\n\r\nhello"sv,
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello"sv,
    };
    const auto message = plan.pick(kMessages);
    detail["message"] = message.substr(0, message.find("\r\n\r\n"));
    return std::string(message);
}

std::string notHttpMessage(ChaosPlan& plan, Dictionary& detail)
{
    switch (plan.below(8)) {
    case 0: {
        std::string bytes(plan.below(8192), '\0');
        for (auto& byte : bytes)
            byte = static_cast<char>(plan.below(256));
        detail["body"] = "random bytes";
        return bytes;
    }
    case 1: detail["body"] = "blank line alone"; return "\r\n\r\n";
    case 2: detail["body"] = "truncated start line"; return "HTTP/1.";
    case 3: detail["body"] = "headers without end"; return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-More: yes";
    case 4: detail["body"] = "other protocol"; return "SSH-2.0-OpenSSH_9.2\r\n";
    case 5: detail["body"] = "TLS record"; return std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    case 6: detail["body"] = "line breaks"; return std::string(100000, '\n');
    default: detail["body"] = "header line of 1 MiB"; return "HTTP/1.1 200 OK\r\nX-Long: " + std::string(1 << 20, 'a') + "\r\n\r\nbody";
    }
}

std::string unsafeBundleId(ChaosPlan& plan, Dictionary& detail)
{
    std::string id;
    switch (plan.below(12)) {
    case 0: id = "../vantor-chaos-escape"; break;
    case 1: id = "../../../../../../tmp/vantor-chaos-escape"; break;
    case 2: id = "/tmp/vantor-chaos-absolute"; break;
    case 3: id = "com.example/../../vantor-chaos"; break;
    case 4: id = "..\\..\\vantor-chaos"; break;
    case 5: id = std::string("com.example\0../../x", 19); break;
    case 6: id = std::string(5000, 'a'); break;
    case 7: id = "com.example.\x01\x1b[31mred\x7f\t\r\n"; break;
    case 8: id = ".."; break;
    case 9: id = "."; break;
    case 10: id = ""; break;
    default: id = ".hidden"; break;
    }
    detail["bundle_id"] = id.size() > 100 ? "<" + std::to_string(id.size()) + " characters>" : id;
    return id;
}

Dictionary shuffledWithDuplicates(const Dictionary& texts, ChaosPlan& plan, Dictionary& detail)
{
    Dictionary records = Dictionary::array();
    for (const auto& text : texts) {
        records.push_back(text);
        if (plan.percent(40))
            records.push_back(text);
    }
    auto& items = records.get_ref<Dictionary::array_t&>();
    for (std::size_t i = items.size(); i > 1; --i)
        std::swap(items[i - 1], items[plan.below(i)]);
    detail["records"] = items.size();
    detail["distinct"] = texts.size();
    return records;
}

std::string udpText(std::int64_t id)
{
    return Dictionary::object({{"id", id},
                               {"status", 1},
                               {"direction", 0},
                               {"fromHost", "127.0.0.1"},
                               {"fromPort", 50000 + id % 10000},
                               {"host", "flood.example"},
                               {"port", 53},
                               {"outboundMode", "Rule"},
                               {"ruleInfo", "FINAL"},
                               {"policyName", "DIRECT"},
                               {"t_time", 1.0},
                               {"t_rule_found", 1.0},
                               {"t_end", 0}})
        .dump();
}

} // namespace vd::sim::chaos
