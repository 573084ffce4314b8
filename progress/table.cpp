#include "progress/table.h"

#include <algorithm>

#include <fmt/format.h>

namespace velaccap::progress {

namespace {

// The width fmt pads a text to, read back from a padding: measuring and
// padding then agree on text that is not ASCII.
std::size_t Width(const std::string& text) {
  const std::size_t room = text.size() + 1;
  return room - (fmt::formatted_size("{:<{}}", text, room) - text.size());
}

}  // namespace

Table::Table(std::vector<Column> columns, bool open_last) : columns_(std::move(columns)), open_last_(open_last) {}

void Table::Row(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

void Table::Rule() { rows_.emplace_back(); }

void Table::Print(std::ostream& out) const {
  const std::size_t n = columns_.size();
  std::vector<std::size_t> width(n);
  for (std::size_t c = 0; c < n; ++c) {
    width[c] = Width(columns_[c].head);
    if (open_last_ && c + 1 == n) continue;
    for (const auto& row : rows_)
      if (!row.empty()) width[c] = std::max(width[c], Width(row[c]));
  }
  fmt::memory_buffer line;
  auto emit = [&] {
    std::string_view text(line.data(), line.size());
    text = text.substr(0, text.find_last_not_of(' ') + 1);
    out << text << '\n';
    line.clear();
  };
  auto cells = [&](auto cell_of) {
    for (std::size_t c = 0; c < n; ++c) {
      if (c > 0) fmt::format_to(std::back_inserter(line), "  ");
      const std::string& cell = cell_of(c);
      if (open_last_ && c + 1 == n)
        fmt::format_to(std::back_inserter(line), "{}", cell);
      else if (columns_[c].align == Align::kRight)
        fmt::format_to(std::back_inserter(line), "{:>{}}", cell, width[c]);
      else
        fmt::format_to(std::back_inserter(line), "{:<{}}", cell, width[c]);
    }
    emit();
  };
  auto rule = [&] {
    for (std::size_t c = 0; c < n; ++c)
      fmt::format_to(std::back_inserter(line), "{}{:->{}}", c > 0 ? "  " : "", "", width[c]);
    emit();
  };
  cells([&](std::size_t c) -> const std::string& { return columns_[c].head; });
  rule();
  for (const auto& row : rows_) {
    if (row.empty())
      rule();
    else
      cells([&](std::size_t c) -> const std::string& { return row[c]; });
  }
}

}  // namespace velaccap::progress
