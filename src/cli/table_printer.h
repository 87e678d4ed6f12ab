// Plain text tables for the terminal: columns padded to their widest cell. Every cell is
// printed through terminalSafe(), so text from a backup cannot steer the terminal.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class TablePrinter {
 public:
  explicit TablePrinter(std::vector<std::string> headers) : headers_(std::move(headers)) {}
  void addRow(std::vector<std::string> cells);
  std::size_t rowCount() const { return rows_.size(); }
  // Writes the header, a rule and the rows; the last column is not padded.
  void print(std::ostream& out) const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

// Display width of UTF-8 text: one column per code point (no wide-glyph handling).
std::size_t displayWidth(const std::string& text);
