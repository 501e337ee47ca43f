#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vd::ctl {

// Columns aligned for reading in a terminal: a header line, then one line per row, two
// spaces between columns. Numbers read best aligned right, texts left.
class Table {
public:
    enum class Align { Left, Right };
    struct Column {
        std::string title;
        Align align = Align::Left;
    };

    explicit Table(std::vector<Column> columns);

    void addRow(std::vector<std::string> cells);
    std::size_t rowCount() const { return rows_.size(); }
    // Each column as wide as its widest cell.
    void print(std::ostream& out) const;

    // For rows printed as they come, before the widest is known: at least `widths` wide.
    void printHeader(std::ostream& out, const std::vector<std::size_t>& widths) const;
    void printRow(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const;

    // Characters as a terminal counts them (UTF-8 sequences count once).
    static std::size_t displayWidth(std::string_view text);
    // A record's texts come from the network: control characters would break the table or
    // drive the terminal, so each becomes '?'.
    static std::string printable(std::string_view text);

private:
    void printLine(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const;

    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

} // namespace vd::ctl
