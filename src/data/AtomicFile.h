#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>

namespace vd {

// What to do when the target is already there.
enum class ExistingFile { replace, keep };

// Writes `data` to a hidden owner-only temporary file beside `target` and then puts it in place
// in one step, so a reader meets either no file or the whole of it, and a failed write leaves
// what was there before. With ExistingFile::keep a file that is present (or appears meanwhile,
// written by another thread or process) is left alone. True when `target` now holds `data`.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> data, ExistingFile existing);

// A file written piece by piece, for what is too large to hold whole, and put in place only
// once complete: it grows as a hidden owner-only temporary file beside the target, which
// commit() moves into place (replacing what was there). Until then the target is untouched, and
// a writer dropped without a successful commit removes its temporary file.
class AtomicFileWriter {
public:
    // None when no temporary file can be made beside the target.
    static std::unique_ptr<AtomicFileWriter> create(const std::filesystem::path& target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    std::ostream& stream() { return stream_; }
    // True when every write succeeded and the file is now in place.
    bool commit();

private:
    AtomicFileWriter(std::filesystem::path target, std::string temporary);

    const std::filesystem::path target_;
    const std::string temporary_;
    std::ofstream stream_;
    bool committed_ = false;
};

} // namespace vd
