#pragma once

#include <filesystem>

namespace vd::test {

// A fresh folder for one test, removed with everything in it when the test ends. Kept short,
// because unix socket paths inside it must fit in 108 bytes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace vd::test
