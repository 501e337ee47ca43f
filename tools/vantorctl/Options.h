#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vd::ctl {

enum class Command { Tunnels, Recent, Dns, Udp, Watch, Close, Record, Mitm, DnsPurge, DnsDelete, Body, Har, Export };

// Which service to talk to: the one at a local socket, a remote one over TCP, or the one on a
// device attached by USB.
struct Target {
    std::string socketPath;
    // Empty: the local socket.
    std::string host;
    std::uint16_t port = 0;
    // The port as a user enters it for a USB device (the service listens one above).
    std::optional<std::int64_t> usbPort;
    std::string password;

    // How errors name the service: the socket path, host:port, or the USB port.
    std::string describe() const;
};

struct Options {
    Target target;
    bool json = false;
    bool verbose = false;
    double timeoutSeconds = 10;

    Command command = Command::Tunnels;
    // recent and har: how many records; udp and watch: stop after this many (0: no limit).
    std::int64_t count = 0;
    // udp and watch: stop after this long (0: no limit).
    double seconds = 0;
    // watch: seconds between two refreshes.
    double interval = 1;
    bool udpWatch = false;
    // close and body: the tunnel.
    std::int64_t id = 0;
    // record and mitm: the wanted state.
    bool on = false;
    // dns-delete
    std::string domain;
    // body: the request (true) or the response body, and where to write it (empty: stdout);
    // har: the file to write.
    bool requestBody = true;
    std::string outputFile;
    // body --decoded: the body alone, its transfer and content codings undone.
    bool decoded = false;
    // har: these records rather than the most recent `count`.
    std::vector<std::int64_t> ids;
    // export: where to serve the metrics, the services to watch (NAME=LINK; none: the one the
    // global options name), and who may scrape.
    std::string listen = "127.0.0.1:9464";
    std::vector<std::string> exportTargets;
    bool allowRemote = false;
    std::string tokenFile;
};

// The options, or the exit code to leave with at once: help was shown (0), or the arguments
// were wrong and a one-line error went to stderr.
std::variant<Options, int> parseArguments(int argc, char** argv);

} // namespace vd::ctl
