#pragma once

#include <cstdint>
#include <vector>

namespace vd::test {

// The ids of a list of tunnel or UDP records, in its order, so a whole list compares at once.
template <typename List>
std::vector<std::int64_t> idsOf(const List& list)
{
    std::vector<std::int64_t> ids;
    for (const auto& record : list)
        ids.push_back(record->id_());
    return ids;
}

} // namespace vd::test
