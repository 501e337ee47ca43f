#include <cstdio>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>
#include <asio/signal_set.hpp>

#include "ServiceSimulator.h"
#include "VdVersion.h"
#include "link/ServiceContract.h"
#include "platform/UserPaths.h"

// vantor-sim: a Vantor service peer for demos and tests.
int main(int argc, char** argv)
{
    CLI::App app{"vantor-sim: a simulated Vantor service that dashboards and vantorctl can log in to.\n"
                 "It serves the live traffic of a busy proxy: local processes and remote devices open,\n"
                 "use and close connections, names are resolved and cached, UDP exchanges come and go.\n"
                 "Every packet it receives is written as one JSON line to its log, and every packet that\n"
                 "breaks the protocol adds a {\"conn\":N,\"protocol_error\":...} line; every body and icon reply\n"
                 "it sends is logged as {\"conn\":N,\"sent\":packet}."};
    app.set_version_flag("--version", "vantor-sim " VD_VERSION_TEXT);
    std::string socketPath = vd::contract::localSocketPath(vd::paths::home()).string();
    bool noLocal = false;
    bool tcp = false;
    std::uint16_t port = vd::contract::kDefaultPort;
    std::string address = "127.0.0.1";
    std::string password;
    std::string logPath;
    std::uint64_t seed = 1;
    std::size_t scale = 0;
    unsigned tickMs = 250;
    std::uint64_t chaosSeed = 0;
    app.add_option("--socket", socketPath, "Local socket path")->capture_default_str();
    app.add_flag("--no-local", noLocal, "Do not listen on the local socket");
    app.add_flag("--tcp", tcp, "Also listen on TCP (needs --password)");
    app.add_option("--port", port, "TCP port")->capture_default_str();
    app.add_option("--listen", address, "TCP address to listen on")->capture_default_str();
    app.add_option("--password", password, "Password for TCP clients");
    app.add_option("--log", logPath, "Append the packet log to this file instead of stdout");
    app.add_option("--seed", seed,
                   "Seed of the simulated traffic: the same seed gives the same traffic, step by step "
                   "(fixed by default, so every demo starts alike)")
        ->capture_default_str();
    app.add_option("--scale", scale,
                   "Hold exactly N active connections, for load tests (0: a natural load of 20 to 60)")
        ->capture_default_str();
    app.add_option("--tick", tickMs,
                   "Milliseconds between steps of the traffic; every step is a quarter second of the "
                   "service's time, so less makes time run faster (0: time stands still)")
        ->capture_default_str();
    const auto* chaos = app.add_option(
        "--chaos", chaosSeed,
        "A hostile service for robustness tests: besides the traffic, every connection gets links closed "
        "mid-packet, text that is not Base64, fields of the wrong JSON type, bodies announcing more bytes "
        "than they carry or that are no HTTP, packets that never end or come one byte per 100 ms, repeated "
        "and shuffled recent records, icons under bundle ids that are no file names, and floods of "
        "pushes, at moments chosen by a generator seeded with SEED and the connection number. Each act "
        "is logged as {\"conn\":N,\"chaos\":...}, so a failure replays from its seed")
        ->type_name("SEED");
    double idleShare = 0;
    app.add_option("--idle-share", idleShare,
                   "Share of the connections (0 to 1) that are idle keep-alive connections: once open, no bytes "
                   "move on them, so they report the same text at every poll (0: the usual traffic)")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    bool bodyGallery = false;
    app.add_flag("--body-gallery", bodyGallery,
                 "Also keep, from the start, one completed and captured HTTP request per kind of body, for "
                 "trying and testing body views: JSON and HTML sent with gzip, br, zstd and deflate (zlib-wrapped, "
                 "and raw as json-deflate-raw), a PNG, a gzip bomb that inflates to 300 MiB, a gzip cut short, a "
                 "form and JSON that does not parse. They are the recent records of host gallery.test, at "
                 "http://gallery.test/gallery/NAME with NAME json-gzip, json-br, json-zstd, json-deflate, "
                 "json-deflate-raw, html-gzip, html-br, html-zstd, html-deflate, png, gzip-bomb, gzip-truncated, "
                 "form and json-invalid; the traffic around them is the same as without them");
    CLI11_PARSE(app, argc, argv);

    if (tcp && password.empty()) {
        std::cerr << "vantor-sim: --tcp needs --password\n";
        return 2;
    }

    std::ofstream logFile;
    if (!logPath.empty()) {
        logFile.open(logPath, std::ios::app);
        if (!logFile) {
            std::cerr << "vantor-sim: cannot open log file " << logPath << "\n";
            return 1;
        }
    }
    std::ostream& out = logPath.empty() ? std::cout : logFile;

    asio::io_context context;
    vd::sim::SimulatorOptions options;
    if (!noLocal)
        options.socketPath = socketPath;
    if (tcp)
        options.tcpPort = port;
    options.tcpAddress = address;
    options.password = password;
    options.seed = seed;
    options.scale = scale;
    options.tickInterval = std::chrono::milliseconds(tickMs);
    if (chaos->count() > 0)
        options.chaosSeed = chaosSeed;
    options.bodyGallery = bodyGallery;
    options.idleShare = idleShare;
    vd::sim::ServiceSimulator simulator(context, options, [&out](const std::string& line) { out << line << std::endl; });
    if (const auto error = simulator.start()) {
        std::cerr << "vantor-sim: " << *error << "\n";
        return 1;
    }
    if (!noLocal)
        std::cerr << "vantor-sim: listening on " << socketPath << "\n";
    if (tcp)
        std::cerr << "vantor-sim: listening on " << address << ":" << simulator.tcpPort() << "\n";

    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&](const std::error_code&, int) { simulator.stop(); context.stop(); });
    context.run();
    return 0;
}
