// Layers that wrap the data-access interfaces: each forwards every operation
// to the object it wraps, and a concrete layer overrides what it watches or
// changes (trace, counting, fault injection). The steps never know a layer is
// there.
#pragma once

#include <memory>

#include "velaccap/dbaccess.h"

namespace velaccap {

// Forwards to an owned source recordset.
class SourceRecordsetLayer : public SourceRecordset {
 public:
  explicit SourceRecordsetLayer(std::unique_ptr<SourceRecordset> inner) : inner_(std::move(inner)) {}
  bool eof() const override { return inner_->eof(); }
  int field_count() const override { return inner_->field_count(); }
  const std::string& field_name(int index) const override { return inner_->field_name(index); }
  int field_index(std::string_view name) const override { return inner_->field_index(name); }
  ColumnType field_type(int index) const override { return inner_->field_type(index); }
  const Value& field_value(int index) const override { return inner_->field_value(index); }
  using SourceRecordset::field_value;
  void move_next() override { inner_->move_next(); }
  long long record_count() const override { return inner_->record_count(); }
  void close() override { inner_->close(); }

 protected:
  std::unique_ptr<SourceRecordset> inner_;
};

// Forwards to a source database it does not own; recordsets it opens pass
// through Wrap().
class SourceDatabaseLayer : public SourceDatabase {
 public:
  explicit SourceDatabaseLayer(SourceDatabase& inner) : inner_(inner) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    return Wrap(inner_.OpenRecordset(query));
  }

 protected:
  virtual std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) { return rs; }
  SourceDatabase& inner_;
};

// Forwards to an owned target recordset.
class TargetRecordsetLayer : public TargetRecordset {
 public:
  explicit TargetRecordsetLayer(std::unique_ptr<TargetRecordset> inner) : inner_(std::move(inner)) {}
  void set_lock_type(LockType lock) override { inner_->set_lock_type(lock); }
  LockType lock_type() const override { return inner_->lock_type(); }
  void set_source(const std::string& table) override { inner_->set_source(table); }
  const std::string& source() const override { return inner_->source(); }
  void OpenTable() override { inner_->OpenTable(); }
  void OpenQuery(const std::string& query) override { inner_->OpenQuery(query); }
  bool is_open() const override { return inner_->is_open(); }
  bool bof() const override { return inner_->bof(); }
  bool eof() const override { return inner_->eof(); }
  int field_count() const override { return inner_->field_count(); }
  const std::string& field_name(int index) const override { return inner_->field_name(index); }
  int field_index(std::string_view name) const override { return inner_->field_index(name); }
  ColumnType field_type(int index) const override { return inner_->field_type(index); }
  Value field_value(int index) const override { return inner_->field_value(index); }
  using TargetRecordset::field_value;
  void move_next() override { inner_->move_next(); }
  void AddNew() override { inner_->AddNew(); }
  void set_field(std::string_view name, const Value& value) override { inner_->set_field(name, value); }
  void UpdateBatch() override { inner_->UpdateBatch(); }
  void Close() override { inner_->Close(); }

 protected:
  std::unique_ptr<TargetRecordset> inner_;
};

// Forwards to a target connection it does not own; recordsets it hands out
// pass through Wrap().
class TargetConnectionLayer : public TargetConnection {
 public:
  explicit TargetConnectionLayer(TargetConnection& inner) : inner_(inner) {}
  void Execute(const std::string& statement) override { inner_.Execute(statement); }
  long long ExecuteCount(const std::string& statement) override { return inner_.ExecuteCount(statement); }
  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    return Wrap(inner_.ExecuteQuery(query));
  }
  std::unique_ptr<TargetRecordset> NewRecordset() override { return Wrap(inner_.NewRecordset()); }
  void BeginTransaction() override { inner_.BeginTransaction(); }
  void Commit() override { inner_.Commit(); }
  void Rollback() override { inner_.Rollback(); }
  bool InTransaction() override { return inner_.InTransaction(); }

 protected:
  virtual std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) { return rs; }
  TargetConnection& inner_;
};

}  // namespace velaccap
