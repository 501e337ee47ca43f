#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "views/VDColumnSorting.h"

namespace vd {
namespace {

using Value = std::variant<std::int64_t, double, std::string>;

// One column of keys as the rows hold them, and the plain comparison a sort must agree with.
struct Column {
    bool ascending;
    std::vector<Value> values;
};

int plainCompare(const Value& a, const Value& b)
{
    return std::visit(
        [&](const auto& x) {
            const auto& y = std::get<std::decay_t<decltype(x)>>(b);
            return x < y ? -1 : (y < x ? 1 : 0);
        },
        a);
}

std::vector<std::uint32_t> plainOrder(const std::vector<Column>& columns, std::size_t rows)
{
    std::vector<std::uint32_t> order(rows);
    std::iota(order.begin(), order.end(), 0U);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (const auto& column : columns) {
            if (const int c = plainCompare(column.values[a], column.values[b]))
                return column.ascending ? c < 0 : c > 0;
        }
        return false;
    });
    return order;
}

std::vector<std::uint32_t> keyedOrder(const std::vector<Column>& columns, std::size_t rows)
{
    std::vector<SortKeyColumn> keys;
    for (const auto& column : columns) {
        auto& key = keys.emplace_back(column.ascending, rows);
        for (const auto& value : column.values) {
            if (const auto* text = std::get_if<std::string>(&value))
                key.append(std::string_view(*text));
            else if (const auto* number = std::get_if<std::int64_t>(&value))
                key.append(*number);
            else
                key.append(std::get<double>(value));
        }
    }
    std::vector<const SortKeyColumn*> order;
    for (const auto& key : keys)
        order.push_back(&key);
    return stableOrder(rows, order);
}

// Few distinct values make ties, which the later columns and then the row order must break.
Value randomValue(std::mt19937_64& random, int kind, int distinct)
{
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    switch (kind) {
    case 0: {
        constexpr std::int64_t extremes[] = {std::numeric_limits<std::int64_t>::min(), -1, 0, 1, 255, 256, 65536,
                                             std::numeric_limits<std::int64_t>::max()};
        return pick(4) == 0 ? extremes[pick(8)] : static_cast<std::int64_t>(pick(distinct)) * 1000 - 3000;
    }
    case 1: {
        constexpr double extremes[] = {-0.0, 0.0, -1e300, 1e300, -0.5, 1e-300, std::numeric_limits<double>::infinity()};
        return pick(4) == 0 ? extremes[pick(7)] : pick(distinct) * 0.25 - 1.0;
    }
    default: {
        // Texts alike in their first eight bytes or more, a zero byte beside a shorter text, bytes
        // above 0x7F, cases.
        static const std::string texts[] = {"", "a", std::string("a\0", 2), std::string("a\0b", 3), "a.com", "a.com.cn",
                                            "api.example.com", "api.example.org", "api.examples", "B", "b",
                                            "\xC3\xA9" "cole.fr", "ecole.fr", "zz"};
        constexpr int count = static_cast<int>(std::size(texts));
        return texts[pick(distinct < count ? distinct : count)];
    }
    }
}

// The ordinals and the passes over their bytes sort exactly as comparing the values would:
// numbers of both signs and at their limits, both zeros, texts by their bytes, either direction,
// ties broken by the next column and else by the row order, above and below the comparison
// sort's size.
TEST(ColumnSortingTest, KeyedOrderEqualsThePlainStableComparison)
{
    std::mt19937_64 random(23);
    for (const std::size_t rows : {0u, 1u, 2u, 31u, 32u, 33u, 1000u, 20000u}) {
        for (int trial = 0; trial < 12; ++trial) {
            std::vector<Column> columns(1 + trial % 3);
            for (auto& column : columns) {
                column.ascending = random() % 2 == 0;
                const int kind = static_cast<int>(random() % 3);
                const int distinct = 2 + static_cast<int>(random() % 40);
                for (std::size_t row = 0; row < rows; ++row)
                    column.values.push_back(randomValue(random, kind, distinct));
            }
            SCOPED_TRACE(testing::Message() << rows << " rows, trial " << trial);
            ASSERT_EQ(keyedOrder(columns, rows), plainOrder(columns, rows));
        }
    }
}

} // namespace
} // namespace vd
