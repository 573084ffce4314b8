// The terminal tables of the tool (a run's steps, a batch's sets): columns
// two blanks apart, each as wide as its widest cell, text to the left and
// numbers to the right, with rules of dashes where they are asked for.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velaccap::progress {

class Table {
 public:
  enum class Align { kLeft, kRight };
  struct Column {
    std::string head;
    Align align = Align::kLeft;
  };

  // `open_last`: the last column is neither padded nor measured (a free
  // text such as an error of any length), and its rule is as wide as its
  // heading.
  explicit Table(std::vector<Column> columns, bool open_last = false);

  void Row(std::vector<std::string> cells);
  void Rule();

  // The heading, its rule, then the rows and rules in the order given.
  // Lines end without blanks.
  void Print(std::ostream& out) const;

 private:
  std::vector<Column> columns_;
  bool open_last_;
  std::vector<std::vector<std::string>> rows_;  // an empty row is a rule
};

}  // namespace velaccap::progress
