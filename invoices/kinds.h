// The invoice steps as data: the statements, queries and field maps of the
// header steps and of the detail steps' copy and merge passes. The steps run
// them; tools that must know what the run will read (the check before a run)
// read them here instead of writing them again.
#pragma once

#include <cstddef>
#include <optional>

#include "component/table_copy.h"

namespace velaccap {

// One header step. The marker field and the blank test narrow both the
// delete and the query, so continuation invoices never get a header.
struct HeaderKind {
  const char* clear;
  const char* query;
  const char* table;
  const FieldMapWriter::Pair* map;
  std::size_t map_size;
  std::optional<LockType> lock_first;
};

// A numeric column of a continuation line and the fragment before it.
struct Piece {
  const char* fragment;
  const char* column;
};

// One detail step: the copy pass of ordinary lines and the merge pass of
// continuation lines. Fragments are kept as the statements join them.
struct DetailKind {
  // Copy pass.
  const char* clear;
  const char* copy_query;
  const char* table;
  const FieldMapWriter::Pair* map;
  std::size_t map_size;

  // Merge pass: the continuation lines, oldest header first.
  const char* merge_query;
  const char* code_column;       // voucher code of the line's header
  const char* type_column;       // vouch type of the line's header
  const char* parent_id_column;  // header id, read from the parent query

  // Parent query: head, vouch type, code_joint, parent code, "'".
  const char* parent_head;
  const char* parent_code_joint;

  // Update: five added columns, then type_joint, vouch type, code_joint,
  // parent code, inv_joint, item code, "'".
  Piece added[5];
  const char* update_type_joint;
  const char* update_code_joint;
  const char* update_inv_joint;

  // Insert: head, parent id, ",", line_id, ",'", item code, "',", each of
  // numbers followed by ",", the memo and "," when the kind has one, then
  // the tax rate and ")".
  const char* insert_head;
  const char* line_id_column;
  const char* const* numbers;
  std::size_t number_count;
  const char* memo_column;  // nullptr: the kind carries no memo
  const char* tax_rate_column;
};

extern const HeaderKind kSalesHeaders;
extern const HeaderKind kPurchaseHeaders;
extern const DetailKind kSalesDetails;
extern const DetailKind kPurchaseDetails;

}  // namespace velaccap
