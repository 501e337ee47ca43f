// Dates, sizes, speeds, durations and times to live as the tables and panes show them.

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "VDUtils.h"
#include "platform/Numbers.h"

namespace vd {
namespace {

// printf into a string of exactly the needed length. Only for integers, which print alike in
// every locale: reals go through numbers::fixed.
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...)
{
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    char small[64];
    const int length = std::vsnprintf(small, sizeof small, pattern, args);
    va_end(args);
    std::string out;
    if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        out.resize(static_cast<std::size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, pattern, again);
    }
    va_end(again);
    return out;
}

// The C library reads the time zone once, the first time a date is shown, and keeps it for the
// life of the process; a test that switches zones calls tzset() itself.
std::optional<std::tm> localTime(double secondsSince1970)
{
    if (!std::isfinite(secondsSince1970))
        return std::nullopt;
    // Whole seconds towards the past, so 59.9 s after a full minute still shows that minute.
    const double whole = std::floor(secondsSince1970);
    constexpr double kLimit = 9.2e18; // inside time_t's range, far beyond any real date
    if (whole <= -kLimit || whole >= kLimit)
        return std::nullopt;
    const auto time = static_cast<std::time_t>(whole);
    std::tm local{};
    if (!localtime_r(&time, &local))
        return std::nullopt;
    return local;
}

} // namespace

std::string VDUtils::formatTunnelStartTime(double secondsSince1970)
{
    const auto local = localTime(secondsSince1970);
    if (!local)
        return {};
    return format("%02d:%02d", local->tm_hour, local->tm_min);
}

std::string VDUtils::formatTunnelStartTimeWithData(double secondsSince1970)
{
    const auto local = localTime(secondsSince1970);
    if (!local)
        return {};
    // The year always takes four digits, also before the year 1000.
    return format("%04d-%02d-%02d %02d:%02d", local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                  local->tm_min);
}

std::pair<std::string, std::string> VDUtils::transformedValue(std::int64_t value, bool isSpeed)
{
    static constexpr std::array<const char*, 9> kUnits{"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    if (value == 0)
        return isSpeed ? std::pair<std::string, std::string>{"0", "B"} : std::pair<std::string, std::string>{"--", ""};
    // The step to the next unit comes at 1000 although a unit is 1024 of the one below, so the
    // number never needs four digits: 1000 bytes already read 1.0 KB.
    auto x = static_cast<double>(value);
    std::size_t unit = 0;
    if (value >= 1000) {
        do {
            x /= 1024.0;
            ++unit;
        } while (x >= 1000.0 && unit + 1 < kUnits.size());
    }
    return {x > 100.0 ? numbers::fixed(x, 0, 3) : numbers::fixed(x, 1, 3), kUnits[unit]};
}

std::string VDUtils::formatDuration(double seconds)
{
    if (seconds < 10.0)
        return numbers::fixed(seconds * 1000.0, 0) + " ms";
    if (seconds < 1000.0)
        return numbers::fixed(seconds, 2) + " s";
    if (seconds < 3600.0)
        return numbers::fixed(seconds, 1) + " s";
    return numbers::fixed(seconds / 3600.0, 2) + " h";
}

std::string VDUtils::formatTTL(std::int64_t seconds)
{
    if (seconds < 0)
        return {};
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    if (seconds < 3600)
        return numbers::fixed(static_cast<double>(seconds) / 60.0, 1) + " m";
    return numbers::fixed(static_cast<double>(seconds) / 3600.0, 1) + " h";
}

} // namespace vd
