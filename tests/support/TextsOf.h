#pragma once

#include <string>
#include <vector>

namespace vd::test {

using Texts = std::vector<std::string>;

// Several texts as one list, so a table of fields compares in one assertion: record fields are
// views into the record's text, derived texts are strings; both compare as strings here.
template <typename... Parts>
Texts textsOf(const Parts&... parts)
{
    return {std::string(parts)...};
}

} // namespace vd::test
