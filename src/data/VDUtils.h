#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Bytes.h"
#include "platform/Task.h"

class QImage;
class QSizeF;

namespace vd {

// The shared formatting and utility functions of records, processor, stores and views.
class VDUtils {
public:
    VDUtils() = delete;

    // A uniform number in [location, location + length); a length of 0 gives the location.
    static std::uint64_t randomIn(std::uint64_t location, std::uint64_t length);
    // `count` characters of [a-zA-Z0-9]; none for a count of 0 or less.
    static std::string randomStringWithLength(std::int32_t count);

    // Local time of a date given in seconds since 1970: "HH:mm" and "yyyy-MM-dd HH:mm".
    static std::string formatTunnelStartTime(double secondsSince1970);
    static std::string formatTunnelStartTimeWithData(double secondsSince1970);

    // Number text and unit text of a byte count or a speed, e.g. ("1.5", "KB").
    static std::pair<std::string, std::string> transformedValue(std::int64_t value, bool isSpeed);
    static std::string formatDuration(double seconds);
    static std::string formatTTL(std::int64_t seconds);

    // Qt-drawn; none (and a log line) for a null image.
    static std::optional<QImage> imageResize(const QImage& image, const QSizeF& newSize);
    static QImage roateSourceImage(const QImage& image, double degrees);

    // Lenient: pads with "=" to a multiple of four, maps the url-safe alphabet when asked, and
    // skips characters outside the alphabet. None when nothing decodable remains.
    static std::optional<Bytes> base64DecodeData(std::string_view text, bool urlSafe);

    static void runBlockInMainThread(Task task);
    // "VantorDashboard" in the user's caches folder, created when missing; none when a
    // non-folder sits there or it cannot be created.
    static std::optional<std::filesystem::path> getAndCreateTmpFolder();

    // The two external editors the text views offer, found as executables on the PATH or in
    // their usual places, or through their desktop entries; none when not installed.
    static std::optional<std::filesystem::path> sublPath();
    static std::optional<std::filesystem::path> vsCodePath();
    static bool checkSublExist() { return sublPath().has_value(); }
    static bool checkVSCodeExist() { return vsCodePath().has_value(); }
    // Whether a desktop entry takes "vscode:" URLs.
    static bool vsCodeURLHandlerExists();

    // " 00 01 ... 07  08 ... 0F  \n 10 ..." — sixteen bytes a line, a gap after eight.
    static std::string hexStringOfData(std::span<const std::uint8_t> data);
    static std::uint16_t uint16FromBytes(std::span<const std::uint8_t> data);
    static Bytes dataFromHexString(std::string_view text);
    static Bytes dataWithReverse(std::span<const std::uint8_t> data);

    static bool isIP(std::string_view text);
    static bool isIPv4(std::string_view text);
    static bool isIPv6(std::string_view text);
    // An IPv6 address becomes "[address]" in lower case; anything else is returned unchanged.
    static std::string ipFormat(std::string_view text);
};

} // namespace vd
