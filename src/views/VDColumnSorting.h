#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vd {

// The typed value a column sorts a row by: numbers numerically, dates as seconds, texts by their
// bytes. A text is usually viewed where the row keeps it; one the row makes on the fly is owned.
// Every key of one column has the same kind.
using SortKey = std::variant<std::int64_t, double, std::string_view, std::string>;

// One clicked column of a table whose every sortable column has exactly one sort key.
struct ColumnSortDescriptor {
    int column = 0;
    bool ascending = true;
    bool operator==(const ColumnSortDescriptor&) const = default;
};
// The most recently clicked column first; the ones clicked before it break its ties.
using ColumnSortDescriptors = std::vector<ColumnSortDescriptor>;

// The order after a click: the column moves to the front with its new direction.
ColumnSortDescriptors withPrimaryColumn(ColumnSortDescriptors descriptors, ColumnSortDescriptor primary);

// The keys of one descriptor, one per row in row order, kept by kind side by side: a sort reads
// each key once per row rather than once per comparison (an active tunnel's growing duration
// cannot change between two comparisons), and compares texts out of one buffer, since texts
// scattered over a hundred thousand records would make most comparisons cache misses.
class SortKeyColumn {
public:
    SortKeyColumn(bool ascending, std::size_t rows);

    void append(const SortKey& key);
    // Negative, zero or positive as row a comes before, with or after row b.
    int compare(std::uint32_t a, std::uint32_t b) const;

private:
    void appendText(std::string_view text);
    std::string_view text(std::uint32_t row) const
    {
        return {texts_.data() + textStarts_[row], textStarts_[row + 1] - textStarts_[row]};
    }

    bool ascending_;
    std::vector<std::int64_t> ints_;
    std::vector<double> reals_;
    std::string texts_;
    // Where each row's text starts in `texts_`, and one more entry for the end of the last.
    std::vector<std::size_t> textStarts_{0};
};

// A stable order of `rows` rows by these key columns, the first deciding: entry i of the result
// is the current row that goes to row i. Rows that compare equal keep their order.
std::vector<std::uint32_t> stableOrder(std::size_t rows, const std::vector<SortKeyColumn>& keys);

// The order of `rows` by `descriptors`, reading each key as `keyOf(row, column)`.
template <typename Rows, typename KeyOf>
std::vector<std::uint32_t> sortedOrder(const Rows& rows, const ColumnSortDescriptors& descriptors, KeyOf keyOf)
{
    std::vector<SortKeyColumn> keys;
    if (rows.size() > 1) {
        keys.reserve(descriptors.size());
        for (const auto& descriptor : descriptors) {
            auto& column = keys.emplace_back(descriptor.ascending, rows.size());
            for (const auto& row : rows)
                column.append(keyOf(row, descriptor.column));
        }
    }
    return stableOrder(rows.size(), keys);
}

} // namespace vd
