#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vd {

// The files that hand a shown text to an external editor. They hold captured headers and
// bodies, so they live in an owner-only folder of our own inside the program's caches folder
// rather than in the shared temporary folder, are readable by their owner alone, and go away
// at the next launch.
class VDEditorFiles {
public:
    VDEditorFiles() = delete;

    // ".../VantorDashboard/Editor", made owner-only (0700) when missing; none when it cannot be
    // had or a non-folder sits there.
    static std::optional<std::filesystem::path> folder();
    // Removes everything inside the folder, ignoring failures.
    static void cleanFolder();
    // Writes the text, as it is, to a new file named by timeStampFileName("txt"), mode 0600.
    // None when it could not be written.
    static std::optional<std::filesystem::path> writeText(std::string_view text);

    // "%.0f.<extension>" of the milliseconds since 1 January 2001 00:00 UTC: the whole number,
    // a dot and the extension.
    static std::string timeStampFileName(std::string_view extension);
};

} // namespace vd
