#include <gtest/gtest.h>

#include "data/RecordFields.h"
#include "platform/Numbers.h"

namespace vd::record {
namespace {

TEST(Numbers, LeadingIntegerReadsLikeTheServiceMeansIt)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {"42", 42}, {"  -17abc", -17}, {"+8", 8}, {"abc", 0}, {"", 0}, {"99999999999999999999999", INT64_MAX},
        {"-99999999999999999999999", INT64_MIN}, {"-9223372036854775808", INT64_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(vd::numbers::leadingInteger(text), value) << text;
}

TEST(RecordFields, TableFindsEveryKeyAndNothingElse)
{
    constexpr std::array<FieldEntry, 5> entries{{{"id", Kind::Int, 0}, {"endId", Kind::Int, 1}, {"host", Kind::Text, 0},
                                             {"t_end", Kind::Double, 0}, {"t_start", Kind::Double, 1}}};
    constexpr FieldTable<5> table(entries);
    for (const auto& entry : entries) {
        ASSERT_NE(table.find(entry.key), nullptr) << entry.key;
        EXPECT_EQ(table.find(entry.key)->key, entry.key);
    }
    for (const char* other : {"", "i", "idx", "Id", "t_en", "t_endd", "hosts"})
        EXPECT_EQ(table.find(other), nullptr) << other;
    static_assert(table.find("t_start")->slot == 1);
}

TEST(RecordFields, ReadStringsTakesTheLastOfARepeatedKey)
{
    const auto values = readStrings(R"({"a":"1","b":2,"a":"3","c":"x\ny"})", std::array<std::string_view, 4>{"a", "b", "c", "d"});
    EXPECT_EQ((std::array<std::string, 4>{values[0], values[1], values[2], values[3]}), (std::array<std::string, 4>{"3", "", "x\ny", ""}));
    EXPECT_EQ(readStrings("not json", std::array<std::string_view, 1>{"a"})[0], "");
}

} // namespace
} // namespace vd::record
