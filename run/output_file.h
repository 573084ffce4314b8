// The output files of a run and of the batch (trace, summary, report, state).
// They must never take the place of a database: a path that is the source, the target, a journal of either, or
// any existing database file is refused before anything is opened for
// writing. And a write that fails must stop the run, not cut the file short.
#pragma once

#include <memory>
#include <streambuf>
#include <string>
#include <vector>

namespace velaccap::run {

// Throws InputError when `path`, given for `what` ("trace"), is one of
// `databases` (the same file by device and inode, also through a link or
// another path), a journal of one of them (-journal, -wal, -shm), or an
// existing SQLite or Access database.
void CheckOutputPath(const std::string& path, const char* what, const std::vector<std::string>& databases);

// True when `a` and `b` name one existing file.
bool SameFile(const std::string& a, const std::string& b);

// A file written through a buffer. A write that fails throws velaccap::Error
// naming the file and the system's reason; a stream over it with
// exceptions(badbit) passes that error on to its writer.
class OutputFile : public std::streambuf {
 public:
  // Creates or truncates `path`; throws InputError when it cannot.
  OutputFile(const std::string& path, const char* what);
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes what is buffered and has the system write it to the disk, so a
  // full disk shows here rather than at close. Throws like a write.
  void Finish();

  // Empties the file to write it again from its start (a placeholder that
  // proved the file writable, replaced by the real content). Throws like a
  // write.
  void Restart();

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  void Drain();
  [[noreturn]] void Fail(int err);

  std::string path_;
  std::string what_;
  int fd_ = -1;
  std::vector<char> buffer_;
};

// Writes `text` to `path` atomically: a temporary file beside it, synced,
// renamed over it, and the folder synced. Throws Error naming the file.
void WriteAtomically(const std::string& path, const std::string& text, const char* what);

}  // namespace velaccap::run
