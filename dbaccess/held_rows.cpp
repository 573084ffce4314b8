#include "dbaccess/held_rows.h"

#include <exception>

#include "dbaccess/ascii.h"
#include "dbaccess/query_tables.h"

namespace velaccap {

void HeldRows::Send() {
  if (!held_) return;
  const std::shared_ptr<HeldBatch> batch = held_;  // alive while it is written
  batch->Send();
}

void HeldRows::SendBefore(const std::string& query) {
  if (held_ && !UnseenBy(query)) Send();
}

void HeldRows::Drop() noexcept {
  if (!held_) return;
  const std::shared_ptr<HeldBatch> batch = held_;
  batch->Clear();
}

void HeldRows::Leave() noexcept {
  if (held_ && !engine_.InTransaction()) {
    try {
      Send();
    } catch (const std::exception&) {
    }
  }
  Drop();
}

bool HeldRows::UnseenBy(const std::string& query) {
  if (!engine_.InTransaction() || !engine_.AsksCatalog()) return false;
  return QueryCannotSeeHeldRows(query, held_->table(), [this](const std::string& table, bool no_triggers) {
    const std::string key = Upper(table) + (no_triggers ? "+" : "");
    auto it = plain_.find(key);
    if (it == plain_.end()) it = plain_.emplace(key, engine_.PlainTable(table, no_triggers)).first;
    return it->second;
  });
}

void HeldBatch::Send() {
  if (count_ == 0) return;
  struct Done {
    HeldBatch* batch;
    ~Done() { batch->Clear(); }
  } done{this};
  if (WriteBatch()) return;
  for (std::size_t row = 0; row < count_; ++row) WriteOne(row);
}

void HeldBatch::Clear() noexcept {
  count_ = 0;
  Forget();
  if (held_.Holds(this)) held_.held_.reset();
}

void HeldBatch::MakeRoom(bool fits) {
  if (!held_.Holds(this)) held_.Send();
  if (!fits) Send();
}

void HeldBatch::Joined(bool send_now) {
  ++count_;
  held_.held_ = shared_from_this();
  if (send_now || count_ == capacity_) Send();
}

}  // namespace velaccap
