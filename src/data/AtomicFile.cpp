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

// A hidden owner-only file beside `target`, open for writing: its descriptor (or -1) and name.
int makeTemporaryBeside(const std::filesystem::path& target, std::string& temporary)
{
    std::string stem = target.filename().string();
    if (stem.size() > kMaxTemporaryStem)
        stem.resize(kMaxTemporaryStem);
    temporary = (target.parent_path() / ("." + stem + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return -1;
    }
    return fd;
}

} // namespace

// No fsync: what we keep this way (captured bodies, icons) is either emptied at launch or asked
// for again, so surviving a power cut buys nothing.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> data, ExistingFile existing)
{
    std::string temporary;
    const int fd = makeTemporaryBeside(target, temporary);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, data);
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

std::unique_ptr<AtomicFileWriter> AtomicFileWriter::create(const std::filesystem::path& target)
{
    std::string temporary;
    const int fd = makeTemporaryBeside(target, temporary);
    if (fd < 0)
        return nullptr;
    // The stream opens the file again by name; the descriptor only had to make it, owner-only.
    ::close(fd);
    auto writer = std::unique_ptr<AtomicFileWriter>(new AtomicFileWriter(target, std::move(temporary)));
    if (!writer->stream_)
        return nullptr;
    return writer;
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, std::string temporary)
    : target_(std::move(target)), temporary_(std::move(temporary)),
      stream_(temporary_, std::ios::binary | std::ios::trunc)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (!committed_)
        ::unlink(temporary_.c_str());
}

bool AtomicFileWriter::commit()
{
    stream_.close();
    if (!stream_ || ::rename(temporary_.c_str(), target_.c_str()) != 0)
        return false;
    committed_ = true;
    return true;
}

} // namespace vd
