#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>

#include <CLI/CLI.hpp>

#include "link/QNComClientManager.h"
#include "link/ServiceContract.h"
#include "platform/UserPaths.h"

// vantorctl: logs in to a Vantor service and prints what it says.
int main(int argc, char** argv)
{
    CLI::App app{"vantorctl: log in to a Vantor service, ask for its current state and print every packet "
                 "it sends as one JSON line."};
    std::string socketPath = vd::contract::localSocketPath(vd::paths::home()).string();
    std::string host;
    std::uint16_t port = vd::contract::kDefaultPort;
    std::string password;
    double seconds = 2;
    app.add_option("--socket", socketPath, "Local service socket")->capture_default_str();
    app.add_option("--host", host, "Remote service host (TCP instead of the local socket)");
    app.add_option("--port", port, "Remote service port")->capture_default_str();
    app.add_option("--password", password, "Remote service password");
    app.add_option("--seconds", seconds, "How long to listen after logging in")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    std::mutex mutex;
    std::condition_variable changed;
    bool loggedIn = false;
    bool ended = false;
    std::optional<std::string> endReason;

    auto manager = vd::QNComClientManager::create();
    manager->setConnectCompleteBlock([&] {
        std::lock_guard lock(mutex);
        std::cout << "logged in" << std::endl;
        loggedIn = true;
        changed.notify_all();
    });
    manager->setDisconnectBlock([&](const std::optional<std::string>& error) {
        std::lock_guard lock(mutex);
        ended = true;
        endReason = error;
        changed.notify_all();
    });
    manager->setReceiveBlock([&](const vd::QNComPacket& packet) {
        std::lock_guard lock(mutex);
        std::cout << "received " << packet.dic().dump() << std::endl;
    });

    if (host.empty())
        manager->startWithSocketPath(socketPath);
    else
        manager->startWithHost(host, port, password);
    manager->requestCurrentTunnels();
    manager->requestDNSRecords();

    std::unique_lock lock(mutex);
    const auto loginDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    changed.wait_until(lock, loginDeadline, [&] { return loggedIn || ended; });
    if (loggedIn && !ended)
        changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return ended; });
    lock.unlock();
    manager->stop();

    if (!loggedIn) {
        std::cerr << "vantorctl: could not log in" << (endReason ? ": " + *endReason : std::string()) << "\n";
        return 1;
    }
    if (ended) {
        std::cerr << "vantorctl: connection closed" << (endReason ? ": " + *endReason : std::string()) << "\n";
        return 1;
    }
    return 0;
}
