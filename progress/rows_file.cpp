#include "progress/rows_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "velaccap/dbaccess.h"

namespace velaccap::progress {

namespace {

// Two numbers of up to 20 digits, padded to one length so that each write
// covers the last.
constexpr int kRecord = 48;

}  // namespace

RowsFile::RowsFile(const std::string& path) : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
  if (fd_ < 0) throw Error("cannot create the rows file " + path + ": " + std::strerror(errno));
}

RowsFile::~RowsFile() { ::close(fd_); }

void RowsFile::Write(long long done, long long to_read) {
  char record[kRecord + 1];
  std::snprintf(record, sizeof record, "%-*s", kRecord - 1, (std::to_string(done) + " " + std::to_string(to_read)).c_str());
  record[kRecord - 1] = '\n';
  (void)!::pwrite(fd_, record, kRecord, 0);
}

RowsSeen ReadRowsFile(const std::string& path) {
  RowsSeen seen;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return seen;
  char record[kRecord + 1] = {};
  const ssize_t n = ::pread(fd, record, kRecord, 0);
  ::close(fd);
  long long done = 0, to_read = -1;
  if (n == kRecord && std::sscanf(record, "%lld %lld", &done, &to_read) == 2) seen = {done, to_read};
  return seen;
}

}  // namespace velaccap::progress
