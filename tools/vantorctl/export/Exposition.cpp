#include "Exposition.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>

namespace vd::ctl {
namespace {

struct Label {
    std::string_view name;
    std::string_view value;
};

// Label values come from the service (policy names): a backslash, a quote or a line break
// must not end the value or the line.
void appendEscaped(std::string& out, std::string_view value)
{
    for (const char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
}

class Writer {
public:
    explicit Writer(const std::vector<NamedSample>& samples) : samples_(samples) {}

    // One metric: its HELP and TYPE, then the lines `each` writes for every target.
    void family(std::string_view name, std::string_view type, std::string_view help,
                const std::function<void(const NamedSample&)>& each)
    {
        out_ += "# HELP ";
        out_ += name;
        out_ += ' ';
        out_ += help;
        out_ += "\n# TYPE ";
        out_ += name;
        out_ += ' ';
        out_ += type;
        out_ += '\n';
        name_ = name;
        for (const auto& sample : samples_)
            each(sample);
    }

    void line(const NamedSample& sample, std::uint64_t value, std::initializer_list<Label> labels = {})
    {
        out_ += name_;
        out_ += "{target=\"";
        appendEscaped(out_, sample.target);
        out_ += '"';
        for (const auto& label : labels) {
            out_ += ',';
            out_ += label.name;
            out_ += "=\"";
            appendEscaped(out_, label.value);
            out_ += '"';
        }
        out_ += "} ";
        out_ += std::to_string(value);
        out_ += '\n';
    }

    std::string take() { return std::move(out_); }

private:
    const std::vector<NamedSample>& samples_;
    std::string_view name_;
    std::string out_;
};

constexpr const char* kDnsTypeLabels[] = {"configured", "hosts_file", "dynamic"};

} // namespace

std::string exposition(const std::vector<NamedSample>& samples)
{
    Writer w(samples);
    w.family("vantor_up", "gauge", "1 while the exporter is logged in to the service, else 0.",
             [&](const NamedSample& s) { w.line(s, s.sample->up ? 1 : 0); });
    w.family("vantor_active_connections", "gauge", "Connections the service has open.", [&](const NamedSample& s) {
        if (s.sample->up)
            w.line(s, s.sample->activeConnections);
    });
    w.family("vantor_bytes_total", "counter",
             "Bytes through the service, up (sent) or down (received), counted across reconnects and restarts.",
             [&](const NamedSample& s) {
                 w.line(s, s.sample->traffic.bytes.sent, {{"direction", "up"}});
                 w.line(s, s.sample->traffic.bytes.received, {{"direction", "down"}});
             });
    w.family("vantor_connections_total", "counter", "Closed connections, completed or failed.", [&](const NamedSample& s) {
        w.line(s, s.sample->traffic.completed, {{"status", "completed"}});
        w.line(s, s.sample->traffic.failed, {{"status", "failed"}});
    });
    w.family("vantor_dns_records", "gauge", "Entries of the service's DNS table by type.", [&](const NamedSample& s) {
        if (!s.sample->up)
            return;
        for (std::size_t type = 0; type < s.sample->dnsRecords.size(); ++type)
            w.line(s, s.sample->dnsRecords[type], {{"type", kDnsTypeLabels[type]}});
    });
    w.family("vantor_udp_sessions", "gauge", "UDP sessions the service has open.", [&](const NamedSample& s) {
        if (s.sample->up)
            w.line(s, s.sample->udpSessions);
    });
    w.family("vantor_policy_bytes_total", "counter",
             "Bytes in both directions by policy; policies beyond the first 50 are counted as \"other\".",
             [&](const NamedSample& s) {
                 for (const auto& policy : s.sample->traffic.policies)
                     w.line(s, policy.bytes.sent + policy.bytes.received, {{"policy", policy.policy}});
             });
    w.family("vantor_scrape_errors_total", "counter", "Failed logins and lost links to the service.",
             [&](const NamedSample& s) { w.line(s, s.sample->scrapeErrors); });
    return w.take();
}

} // namespace vd::ctl
