// Results as a table for people, or as CSV or JSON for programs.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace mokta {

enum class OutputFormat { kTable, kCsv, kJson };

// One cell: its text, and whether JSON should carry it as a number.
struct Cell {
  std::string text;
  bool number = false;
};

Cell Text(std::string text);
Cell Number(long long value);
Cell Number(double value, int decimals);

class Report {
 public:
  explicit Report(std::vector<std::string> columns) : columns_(std::move(columns)) {}

  void Add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }
  [[nodiscard]] bool Empty() const { return rows_.empty(); }

  // table: aligned columns under a header; csv: a header line and one line
  // per row; json: an array of objects keyed by column.
  void Print(OutputFormat format, std::FILE* out) const;

  // One row alone, for streaming: csv and json lines (one object per line);
  // the csv header comes from PrintCsvHeader.
  void PrintCsvHeader(std::FILE* out) const;
  void PrintRow(OutputFormat format, const std::vector<Cell>& row, std::FILE* out) const;

 private:
  [[nodiscard]] std::string RowText(OutputFormat format, const std::vector<Cell>& row) const;

  std::vector<std::string> columns_;
  std::vector<std::vector<Cell>> rows_;
};

std::string CsvField(const std::string& text);
std::string JsonString(const std::string& text);

}  // namespace mokta
