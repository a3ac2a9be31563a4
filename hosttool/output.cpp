#include "output.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace mokta {

Cell Text(std::string text) {
  return Cell{std::move(text), false};
}

Cell Number(long long value) {
  return Cell{std::to_string(value), true};
}

Cell Number(double value, int decimals) {
  std::vector<char> text(64);
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  return Cell{text.data(), true};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + "\"";
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (byte < 0x20) {
      std::vector<char> escape(8);
      std::snprintf(escape.data(), escape.size(), "\\u%04x", byte);
      quoted += escape.data();
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void Report::PrintCsvHeader(std::FILE* out) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    std::fprintf(out, "%s%s", i == 0 ? "" : ",", CsvField(columns_[i]).c_str());
  }
  std::fputc('\n', out);
}

std::string Report::RowText(OutputFormat format, const std::vector<Cell>& row) const {
  std::string text;
  if (format == OutputFormat::kJson) {
    text.push_back('{');
    for (std::size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
      const Cell& cell = row[i];
      if (i > 0) {
        text.push_back(',');
      }
      text.append(JsonString(columns_[i]));
      text.push_back(':');
      text.append(cell.number && !cell.text.empty() ? cell.text : JsonString(cell.text));
    }
    text.push_back('}');
    return text;
  }
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) {
      text.push_back(',');
    }
    text.append(CsvField(row[i].text));
  }
  return text;
}

void Report::PrintRow(OutputFormat format, const std::vector<Cell>& row, std::FILE* out) const {
  std::fprintf(out, "%s\n", RowText(format, row).c_str());
}

void Report::Print(OutputFormat format, std::FILE* out) const {
  switch (format) {
    case OutputFormat::kCsv:
      PrintCsvHeader(out);
      for (const auto& row : rows_) {
        PrintRow(format, row, out);
      }
      return;
    case OutputFormat::kJson:
      std::fputs("[\n", out);
      for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::fprintf(out, "  %s%s\n", RowText(format, rows_[r]).c_str(),
                     r + 1 < rows_.size() ? "," : "");
      }
      std::fputs("]\n", out);
      return;
    case OutputFormat::kTable:
      break;
  }
  std::vector<std::size_t> widths(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    widths[i] = columns_[i].size();
    for (const auto& row : rows_) {
      if (i < row.size()) {
        widths[i] = std::max(widths[i], row[i].text.size());
      }
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::string cell = cells[i];
      if (i + 1 < cells.size()) {
        cell.resize(std::max(cell.size(), widths[i]), ' ');
        cell += "  ";
      }
      text += cell;
    }
    text.erase(text.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", text.c_str());
  };
  line(columns_);
  for (const auto& row : rows_) {
    std::vector<std::string> cells;
    cells.reserve(row.size());
    for (const Cell& cell : row) {
      cells.push_back(cell.text);
    }
    line(cells);
  }
}

}  // namespace mokta
