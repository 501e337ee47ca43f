#include <iostream>
#include <optional>

#include "Commands.h"
#include "ExitCodes.h"
#include "Interrupt.h"
#include "Options.h"
#include "Output.h"
#include "Session.h"
#include "VdVersion.h"
#include "link/PTUSBHub.h"
#include "platform/LargeBuffers.h"
#include "platform/MainLoop.h"

namespace {

// Errors stay on one line even when a service's message spans several.
std::string oneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

} // namespace

// vantorctl: the dashboard's data layer on a terminal, for people and for scripts.
int main(int argc, char** argv)
{
    // `watch` may run for hours on a busy service, like the dashboard.
    vd::returnLargeBuffersToTheSystem();
    using namespace vd::ctl;
    auto parsed = parseArguments(argc, argv);
    if (const int* code = std::get_if<int>(&parsed))
        return *code;
    const Options& options = std::get<Options>(parsed);
    installInterruptHandlers();
    // The USB daemon is told in every message which program asks, and which build of it.
    vd::PTUSBChannel::setApplicationIdentity("vantorctl", VD_VERSION_TEXT);

    try {
        // Body arrivals and read completions come on the main queue: this thread drains it.
        vd::MainLoop loop;
        if (options.command == Command::Export) {
            const ExitCode code = exportMetrics(loop, options, std::cout);
            flushOrFail(std::cout);
            return code;
        }
        const auto refreshEvery = options.command == Command::Watch ? std::optional(options.interval) : std::nullopt;
        Session session(loop, options, refreshEvery);
        session.connect();
        const ExitCode code = runCommand(session, options, std::cout);
        flushOrFail(std::cout);
        return code;
    } catch (const Failure& failure) {
        std::cout.flush();
        if (*failure.what())
            std::cerr << "vantorctl: " << oneLine(failure.what()) << '\n';
        return failure.code();
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "vantorctl: " << oneLine(error.what()) << '\n';
        return kExitFailed;
    }
}
