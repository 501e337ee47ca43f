#include "LinkWatch.h"

#include <cstdio>

namespace vd::ctl {
namespace {

constexpr std::string_view kTransportUp = "Connect success";
constexpr std::string_view kRefusalPrefix = "Error: ";
constexpr std::string_view kStartFailurePrefix = "Connect fail with error: ";

const char* levelName(log::Level level)
{
    switch (level) {
    case log::Level::Debug: return "debug";
    case log::Level::Info: return "info";
    case log::Level::Error: return "error";
    }
    return "info";
}

} // namespace

LinkWatch::LinkWatch(bool echo) : echo_(echo)
{
    previous_ = log::setSink([this](log::Level level, std::string_view line) { take(level, line); });
}

LinkWatch::~LinkWatch()
{
    log::setSink(std::move(previous_));
}

void LinkWatch::take(log::Level level, std::string_view line)
{
    if (echo_) {
        std::fprintf(stderr, "vantorctl [%s] %.*s\n", levelName(level), static_cast<int>(line.size()), line.data());
    }
    std::lock_guard lock(mutex_);
    if (level == log::Level::Info && line == kTransportUp) {
        transportUp_ = true;
    } else if (level == log::Level::Error && line.starts_with(kRefusalPrefix)) {
        // Only the first counts: it is the one that ended the login.
        if (!refusal_)
            refusal_ = std::string(line.substr(kRefusalPrefix.size()));
    } else if (level == log::Level::Error && line.starts_with(kStartFailurePrefix)) {
        if (!startFailure_)
            startFailure_ = std::string(line.substr(kStartFailurePrefix.size()));
    }
}

bool LinkWatch::transportUp() const
{
    std::lock_guard lock(mutex_);
    return transportUp_;
}

std::optional<std::string> LinkWatch::refusal() const
{
    std::lock_guard lock(mutex_);
    return refusal_;
}

std::optional<std::string> LinkWatch::startFailure() const
{
    std::lock_guard lock(mutex_);
    return startFailure_;
}

} // namespace vd::ctl
