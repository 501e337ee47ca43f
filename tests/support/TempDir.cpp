#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vd::test {

TempDir::TempDir()
{
    std::string pattern = "/tmp/vdt-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace vd::test
