#include "VDEditorFiles.h"

#include <chrono>
#include <cmath>
#include <span>

#include "AtomicFile.h"
#include "VDUtils.h"
#include "platform/Numbers.h"

namespace vd {

namespace fs = std::filesystem;

namespace {

// 1 January 2001 00:00 UTC in seconds since 1970.
constexpr double kReferenceDate = 978307200.0;

} // namespace

std::optional<fs::path> VDEditorFiles::folder()
{
    const auto tmp = VDUtils::getAndCreateTmpFolder();
    if (!tmp)
        return std::nullopt;
    const fs::path path = *tmp / "Editor";
    std::error_code error;
    fs::create_directory(path, error);
    if (error || !fs::is_directory(fs::symlink_status(path, error)))
        return std::nullopt;
    // Whoever made it, it ends up ours alone.
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, error);
    if (error)
        return std::nullopt;
    return path;
}

void VDEditorFiles::cleanFolder()
{
    const auto path = folder();
    if (!path)
        return;
    std::error_code error;
    for (fs::directory_iterator it(*path, error), end; !error && it != end; it.increment(error))
        fs::remove_all(it->path(), error);
}

std::optional<fs::path> VDEditorFiles::writeText(std::string_view text)
{
    const auto path = folder();
    if (!path)
        return std::nullopt;
    const fs::path file = *path / timeStampFileName("txt");
    // The atomic write goes through an owner-only temporary file, so the result is 0600.
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (!writeFileAtomically(file, bytes, ExistingFile::replace))
        return std::nullopt;
    return file;
}

std::string VDEditorFiles::timeStampFileName(std::string_view extension)
{
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return numbers::fixed((now - kReferenceDate) * 1000.0, 0) + "." + std::string(extension);
}

} // namespace vd
