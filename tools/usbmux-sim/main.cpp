#include <algorithm>
#include <csignal>
#include <optional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/read_until.hpp>
#include <asio/signal_set.hpp>
#include <asio/streambuf.hpp>
#include <unistd.h>

#include "UsbmuxSimulator.h"

namespace {

struct DeviceOption {
    std::uint32_t id = 0;
    std::uint16_t port = 0;
    std::string serviceSocket;
};

// A decimal number no larger than the limit; std::regex is avoided, as GCC's sanitizer builds
// warn about its insides.
std::optional<std::uint64_t> parseNumber(const std::string& text, std::uint64_t limit)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::uint64_t value = std::stoull(text);
    if (value > limit)
        return std::nullopt;
    return value;
}

std::optional<DeviceOption> parseDevice(const std::string& text)
{
    const auto colon = text.find(':');
    const auto equals = text.find('=');
    if (colon == std::string::npos || equals == std::string::npos || equals < colon || equals + 1 == text.size())
        return std::nullopt;
    const auto id = parseNumber(text.substr(0, colon), 0xFFFFFFFFu);
    const auto port = parseNumber(text.substr(colon + 1, equals - colon - 1), 0xFFFFu);
    if (!id || !port || *port == 0)
        return std::nullopt;
    return DeviceOption{static_cast<std::uint32_t>(*id), static_cast<std::uint16_t>(*port), text.substr(equals + 1)};
}

nlohmann::json deviceProperties(std::uint64_t id)
{
    return {{"ConnectionType", "USB"}, {"SerialNumber", "usbmux-sim-" + std::to_string(id)}};
}

// Lines on standard input plug devices in and out while the daemon runs, so a script can
// play a cable being pulled: "attach ID" and "detach ID".
class Console {
public:
    Console(asio::io_context& context, vd::sim::UsbmuxSimulator& simulator) : input_(context), simulator_(simulator)
    {
        // Without a usable standard input the daemon simply runs without a console.
        const int descriptor = ::dup(STDIN_FILENO);
        if (descriptor < 0)
            return;
        std::error_code error;
        input_.assign(descriptor, error);
        if (error)
            ::close(descriptor);
    }

    void readLine()
    {
        if (!input_.is_open())
            return;
        asio::async_read_until(input_, buffer_, '\n', [this](const std::error_code& error, std::size_t) {
            // End of input only ends the console; the daemon keeps serving.
            if (error)
                return;
            std::istream lines(&buffer_);
            std::string line;
            std::getline(lines, line);
            handle(line);
            readLine();
        });
    }

private:
    void handle(const std::string& line)
    {
        std::istringstream words(line);
        std::string command, number, extra;
        words >> command >> number >> extra;
        const auto id = parseNumber(number, 0xFFFFFFFFu);
        if ((command != "attach" && command != "detach") || !id || !extra.empty()) {
            if (!command.empty())
                std::cerr << "usbmux-sim: commands are 'attach ID' and 'detach ID'\n";
            return;
        }
        if (command == "attach")
            simulator_.attach(static_cast<std::uint32_t>(*id), deviceProperties(*id));
        else
            simulator_.detach(static_cast<std::uint32_t>(*id));
    }

    asio::posix::stream_descriptor input_;
    asio::streambuf buffer_;
    vd::sim::UsbmuxSimulator& simulator_;
};

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"A USB multiplexing daemon stand-in whose devices lead to Vantor services.\n"
                 "Standard input takes 'attach ID' and 'detach ID' lines while it runs."};
    std::string socketPath;
    std::vector<std::string> deviceTexts;
    app.add_option("--socket", socketPath, "Unix socket to answer on (where clients expect the daemon)")->required();
    app.add_option("--device", deviceTexts,
                   "A device attached from the start, ID:PORT=SERVICE_SOCKET: its port PORT leads to the "
                   "service's local socket; repeat for more ports or devices");
    CLI11_PARSE(app, argc, argv);

    std::vector<DeviceOption> devices;
    for (const auto& text : deviceTexts) {
        const auto device = parseDevice(text);
        if (!device) {
            std::cerr << "usbmux-sim: --device wants ID:PORT=SERVICE_SOCKET, got '" << text << "'\n";
            return 2;
        }
        devices.push_back(*device);
    }

    asio::io_context context;
    vd::sim::UsbmuxSimulator simulator(context, socketPath);
    if (const auto error = simulator.start()) {
        std::cerr << "usbmux-sim: " << *error << "\n";
        return 1;
    }
    std::vector<std::uint32_t> attached;
    for (const auto& device : devices) {
        simulator.forwardPort(device.id, device.port, device.serviceSocket);
        if (std::find(attached.begin(), attached.end(), device.id) == attached.end()) {
            attached.push_back(device.id);
            simulator.attach(device.id, deviceProperties(device.id));
        }
    }

    Console console(context, simulator);
    console.readLine();

    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&](const std::error_code&, int) {
        simulator.stop();
        context.stop();
    });
    std::cout << "usbmux-sim: listening on " << socketPath << std::endl;
    context.run();
    return 0;
}
