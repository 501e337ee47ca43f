#include "AtomicFile.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vd {
namespace {

// "." + name + ".XXXXXX" must still fit into one directory entry of 255 bytes.
constexpr std::size_t kMaxTemporaryStem = 255 - 8;

bool writeAll(int fd, std::span<const std::uint8_t> data)
{
    const std::uint8_t* next = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// link() never replaces its target, which makes "only if nobody was first" a single step.
// Where the file system has no hard links, a check before rename() is the best there is.
bool putInPlaceKeeping(const std::string& temporary, const std::filesystem::path& target)
{
    if (::link(temporary.c_str(), target.c_str()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0 || errno != ENOENT)
        return false;
    return ::rename(temporary.c_str(), target.c_str()) == 0;
}

} // namespace

// No fsync: what we keep this way (captured bodies, icons) is either emptied at launch or asked
// for again, so surviving a power cut buys nothing.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> data, ExistingFile existing)
{
    std::string stem = target.filename().string();
    if (stem.size() > kMaxTemporaryStem)
        stem.resize(kMaxTemporaryStem);
    std::string temporary = (target.parent_path() / ("." + stem + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, data);
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        if (existing == ExistingFile::replace) {
            // rename() consumes the temporary name on success.
            if (::rename(temporary.c_str(), target.c_str()) == 0)
                return true;
            ok = false;
        } else {
            ok = putInPlaceKeeping(temporary, target);
            // After a successful rename the temporary name is gone and this fails harmlessly;
            // after link() it removes the second name.
        }
    }
    ::unlink(temporary.c_str());
    return ok;
}

} // namespace vd
