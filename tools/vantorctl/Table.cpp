#include "Table.h"

#include <algorithm>

namespace vd::ctl {

Table::Table(std::vector<Column> columns) : columns_(std::move(columns)) {}

std::size_t Table::displayWidth(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Table::printable(std::string_view text)
{
    std::string clean(text);
    for (char& c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return clean;
}

void Table::addRow(std::vector<std::string> cells)
{
    cells.resize(columns_.size());
    for (auto& cell : cells)
        cell = printable(cell);
    rows_.push_back(std::move(cells));
}

void Table::printLine(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const
{
    std::string line;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::string& cell = i < cells.size() ? cells[i] : std::string();
        const std::size_t width = i < widths.size() ? widths[i] : 0;
        const std::size_t pad = width > displayWidth(cell) ? width - displayWidth(cell) : 0;
        const bool last = i + 1 == columns_.size();
        if (i > 0)
            line += "  ";
        if (columns_[i].align == Align::Right)
            line.append(pad, ' ').append(cell);
        else
            line.append(cell).append(last ? 0 : pad, ' ');
    }
    // Empty cells at the end would leave trailing blanks.
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
}

void Table::print(std::ostream& out) const
{
    std::vector<std::size_t> widths;
    for (const auto& column : columns_)
        widths.push_back(displayWidth(column.title));
    for (const auto& row : rows_) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    printHeader(out, widths);
    for (const auto& row : rows_)
        printLine(out, row, widths);
}

void Table::printHeader(std::ostream& out, const std::vector<std::size_t>& widths) const
{
    std::vector<std::string> titles;
    for (const auto& column : columns_)
        titles.push_back(column.title);
    printLine(out, titles, widths);
}

void Table::printRow(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const
{
    std::vector<std::string> clean;
    for (const auto& cell : cells)
        clean.push_back(printable(cell));
    printLine(out, clean, widths);
}

} // namespace vd::ctl
