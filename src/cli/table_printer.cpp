#include "cli/table_printer.h"

#include <algorithm>

#include "cli/terminal_text.h"

std::size_t displayWidth(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

void TablePrinter::addRow(std::vector<std::string> cells) {
  for (auto& cell : cells) cell = terminalSafe(cell);
  rows_.push_back(std::move(cells));
}

void TablePrinter::print(std::ostream& out) const {
  std::vector<std::size_t> widths(headers_.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
  };
  measure(headers_);
  for (const auto& row : rows_) measure(row);
  auto printRow = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
      const std::string cell = i < row.size() ? row[i] : std::string();
      line += cell;
      if (i + 1 < widths.size()) line += std::string(widths[i] - displayWidth(cell) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  printRow(headers_);
  std::vector<std::string> rule;
  for (std::size_t w : widths) rule.push_back(std::string(w, '-'));
  printRow(rule);
  for (const auto& row : rows_) printRow(row);
}
