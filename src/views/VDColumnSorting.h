#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// A column sorts its rows by a typed key read from each row: numbers (std::int64_t)
// numerically, dates as seconds (double), texts (std::string_view, viewed where the row keeps
// them) by their bytes. A table's columns say how to read their keys with
//   template <typename Use> static void forSortKey(int column, Use use),
// which calls `use` with a reader, a callable from a row to its key, and does not call it for a
// column without a key. Reading the keys of all rows then costs little more than reading their
// fields: the reader's type is known where the rows are walked.

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

// The keys of one descriptor, one per row in row order: a sort reads each key once per row
// rather than once per comparison (an active tunnel's growing duration cannot change between two
// comparisons). A number or date is kept as its ordinal, an unsigned number in the order the
// descriptor asks for, so the sort can take them apart byte by byte instead of comparing them.
// Texts are compared out of one buffer, since texts scattered over a hundred thousand records
// would make most comparisons cache misses.
class SortKeyColumn {
public:
    // Room for the keys of `rows` rows of any kind; the kinds not used are never touched.
    SortKeyColumn(bool ascending, std::size_t rows);

    void append(std::int64_t key) { ordinals_.push_back(directed(std::bit_cast<std::uint64_t>(key) ^ kSignBit)); }
    void append(double key) { ordinals_.push_back(directed(ordinalOf(key))); }
    void append(std::string_view key)
    {
        slots_.push_back(static_cast<std::uint32_t>(slots_.size()));
        texts_ += key;
        textStarts_.push_back(texts_.size());
    }

    bool holdsTexts() const { return ordinals_.empty(); }
    // A number key as it sorts: a smaller ordinal comes first, whatever the direction.
    std::uint64_t ordinal(std::uint32_t row) const { return ordinals_[row]; }
    // Negative, zero or positive as row a comes before, with or after row b.
    int compare(std::uint32_t a, std::uint32_t b) const
    {
        if (!holdsTexts())
            return ordinals_[a] < ordinals_[b] ? -1 : (ordinals_[b] < ordinals_[a] ? 1 : 0);
        const int order = text(slots_[a]).compare(text(slots_[b]));
        return ascending_ ? order : -order;
    }

    // The same keys for the rows reordered: entry i of `order` is the row that goes to row i.
    // The texts stay where they are; only which row has which moves.
    void reorder(const std::vector<std::uint32_t>& order);
    // The same keys sorting the other way, or again this way.
    void setAscending(bool ascending);
    std::size_t heldBytes() const;

private:
    static constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
    // Positive numbers above negative ones, each in their order; both zeros alike, and a NaN,
    // which compares equal to nothing, after every number.
    static std::uint64_t ordinalOf(double key)
    {
        if (key != key)
            return ~std::uint64_t{0};
        const auto bits = std::bit_cast<std::uint64_t>(key == 0 ? 0.0 : key);
        return bits & kSignBit ? ~bits : bits | kSignBit;
    }
    // Descending keeps rows of equal keys in their order, as ascending does.
    std::uint64_t directed(std::uint64_t ordinal) const { return ascending_ ? ordinal : ~ordinal; }
    std::string_view text(std::uint32_t slot) const
    {
        return {texts_.data() + textStarts_[slot], textStarts_[slot + 1] - textStarts_[slot]};
    }

    bool ascending_;
    std::vector<std::uint64_t> ordinals_;
    std::string texts_;
    // Where each text starts in `texts_`, and one more entry for the end of the last.
    std::vector<std::size_t> textStarts_{0};
    // Which text is each row's.
    std::vector<std::uint32_t> slots_;
};

// A stable order of `rows` rows by these key columns, the first deciding: entry i of the result
// is the current row that goes to row i. Rows that compare equal keep their order. Rows are sorted
// by the first column, then only the runs of rows equal in it by the next, and so on.
std::vector<std::uint32_t> stableOrder(std::size_t rows, const std::vector<const SortKeyColumn*>& keys);

// The keys of `rows` for one descriptor, read through `Columns::forSortKey`.
template <typename Columns, typename Rows>
SortKeyColumn readSortKeys(const Rows& rows, const ColumnSortDescriptor& descriptor)
{
    SortKeyColumn keys(descriptor.ascending, rows.size());
    Columns::forSortKey(descriptor.column, [&](auto read) {
        for (const auto& row : rows)
            keys.append(read(row));
    });
    return keys;
}

// The order of `rows` by `descriptors`.
template <typename Columns, typename Rows>
std::vector<std::uint32_t> sortedOrder(const Rows& rows, const ColumnSortDescriptors& descriptors)
{
    std::vector<SortKeyColumn> keys;
    std::vector<const SortKeyColumn*> order;
    if (rows.size() > 1) {
        keys.reserve(descriptors.size());
        for (const auto& descriptor : descriptors)
            order.push_back(&keys.emplace_back(readSortKeys<Columns>(rows, descriptor)));
    }
    return stableOrder(rows.size(), order);
}

} // namespace vd
