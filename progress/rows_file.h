// A run's rows read so far and all it reads, kept in a small file that
// another process (the batch that started the run) reads while the run goes
// on, so that it paces its time left by rows rather than by runs ended.
#pragma once

#include <string>

namespace velaccap::progress {

struct RowsSeen {
  long long done = 0;
  long long to_read = -1;  // -1: not known (yet)
};

// Writes the file in place, one short write at its start each time, so a
// reader sees the last numbers or the ones before them.
class RowsFile {
 public:
  // Throws Error when the file cannot be created.
  explicit RowsFile(const std::string& path);
  ~RowsFile();
  RowsFile(const RowsFile&) = delete;
  RowsFile& operator=(const RowsFile&) = delete;

  // A failed write only loses the batch's estimate; the run goes on.
  void Write(long long done, long long to_read);

 private:
  int fd_;
};

// What the file says; {0, -1} when it is missing or not yet written.
RowsSeen ReadRowsFile(const std::string& path);

}  // namespace velaccap::progress
