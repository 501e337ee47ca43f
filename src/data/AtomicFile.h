#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace vd {

// What to do when the target is already there.
enum class ExistingFile { replace, keep };

// Writes `data` to a hidden owner-only temporary file beside `target` and then puts it in place
// in one step, so a reader meets either no file or the whole of it, and a failed write leaves
// what was there before. With ExistingFile::keep a file that is present (or appears meanwhile,
// written by another thread or process) is left alone. True when `target` now holds `data`.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> data, ExistingFile existing);

} // namespace vd
