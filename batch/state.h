// What a batch remembers between runs, so that a run after a crash or a kill
// does the rest and nothing twice. One JSON file, replaced atomically (a
// temporary file written and synced, then renamed over it) after every set.
//
// Before a set's migration starts, its entry is written as "running" with
// what identifies its source then; the migrating child writes its summary to
// a file of its own as its last act. A set is "done" once its summary says
// it succeeded. When the batch itself dies between a child's commit and the
// state's update, the next run finds the summary beside the state and takes
// it as done. The window left: the moments between the child's commit and
// its summary reaching the disk. A batch killed exactly then migrates that
// set again on its next run, which leaves the same rows, as each run
// replaces the tables it writes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace velaccap::batch {

// What identifies a source file: it is taken as unchanged while these are.
struct SourceStamp {
  std::int64_t size = -1;
  std::int64_t mtime_ns = -1;
  bool operator==(const SourceStamp&) const = default;
};

// The source's stamp now; size -1 when it cannot be read.
SourceStamp StampOf(const std::string& path);

struct Entry {
  std::string status;  // "running" or "done"
  std::string source;
  std::string target;
  SourceStamp stamp;
  nlohmann::json result;  // the finished set's outcome, as the report shows it
};

class State {
 public:
  // Reads `path`; a missing file is an empty state. A file that cannot be
  // read as a state is an InputError naming it: it is never replaced
  // unseen.
  explicit State(std::string path);

  const std::string& path() const { return path_; }
  // The folder beside the state where the children write their summaries.
  std::string work_dir() const { return path_ + ".sets"; }

  const Entry* Find(const std::string& name) const;
  void Put(const std::string& name, Entry entry) { entries_[name] = std::move(entry); }
  void Erase(const std::string& name) { entries_.erase(name); }

  // Writes the state atomically. Throws Error naming the file.
  void Save() const;

 private:
  std::string path_;
  std::map<std::string, Entry> entries_;
};

// Holds the lock that keeps two batches off one state file. The lock's file
// descriptor is inherited by the migrating children, so that a batch killed
// while its children run still counts as running until they are done.
class StateLock {
 public:
  // Throws InputError when another batch holds it.
  explicit StateLock(const std::string& state_path);
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace velaccap::batch
