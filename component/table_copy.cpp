#include "component/table_copy.h"


namespace velaccap {

void RunCopyFrame(RunContext& ctx, const CopyFrame& frame, const RowWriter& write_row) {
  ctx.target.Execute(frame.clear);
  std::unique_ptr<SourceRecordset> source = ctx.source.OpenRecordset(frame.query);
  if (frame.lock_after_query) ctx.table->set_lock_type(*frame.lock_after_query);
  TargetRecordset& target = *ctx.table;
  target.set_source(frame.table);
  target.OpenTable();
  while (!source->eof()) {
    // Each new row saves the one before it; the batch below saves the last.
    target.AddNew();
    write_row(*source, target);
    source->move_next();
  }
  if (source->record_count() > 0) target.UpdateBatch();
  source->close();
  source.reset();
  target.Close();
}

void CopyTable(RunContext& ctx, const std::string& table, const std::string& query,
               const std::string& left_out) {
  CopyFrame frame{"Delete " + table, query, table, std::nullopt};
  // Which columns are left out is decided once: the column list of a result
  // does not change from row to row.
  std::vector<bool> skip;
  RunCopyFrame(ctx, frame, [&](const SourceRecordset& source, TargetRecordset& target) {
    const int n = source.field_count();
    if (static_cast<int>(skip.size()) != n) {
      skip.assign(n, false);
      if (!left_out.empty())
        for (int i = 0; i < n; ++i) skip[i] = Upper(source.field_name(i)) == left_out;
    }
    for (int i = 0; i < n; ++i)
      if (!skip[i]) target.set_field(source.field_name(i), source.field_value(i));
  });
}

void FieldMapWriter::operator()(const SourceRecordset& source, TargetRecordset& target) {
  // Resolved one pair at a time, so failures come in assignment order.
  if (source_index_.empty()) source_index_.assign(count_, -1);
  for (std::size_t i = 0; i < count_; ++i) {
    if (source_index_[i] < 0) source_index_[i] = source.field_index(pairs_[i].source);
    target.set_field(pairs_[i].target, source.field_value(source_index_[i]));
  }
}

}  // namespace velaccap
