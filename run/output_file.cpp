#include "run/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "velaccap/open.h"

namespace velaccap::run {

namespace {

namespace fs = std::filesystem;

bool Stat(const std::string& path, struct stat* st) { return ::stat(path.c_str(), st) == 0; }

// The file's first bytes say whether it is a database of either engine.
bool IsDatabaseFile(const std::string& path) {
  // Only a regular file is read: a terminal or a pipe would wait for input.
  struct stat st;
  if (!Stat(path, &st) || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  char head[32] = {};
  in.read(head, sizeof head);
  const std::size_t n = static_cast<std::size_t>(in.gcount());
  if (n >= 16 && std::memcmp(head, "SQLite format 3", 16) == 0) return true;
  return n >= 19 && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                     std::memcmp(head + 4, "Standard ACE DB", 15) == 0);
}

// The path with its links and folders resolved, also when the file does not
// exist yet: a link to a journal that the engine has not made yet must still
// be known as that journal.
std::string Resolved(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  fs::path out = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal().string() : out.string();
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return Stat(a, &sa) && Stat(b, &sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void CheckOutputPath(const std::string& path, const char* what, const std::vector<std::string>& databases) {
  const std::string refused = std::string("the ") + what + " file " + path;
  const std::string resolved = Resolved(path);
  for (const std::string& db : databases) {
    if (SameFile(path, db)) throw InputError(refused + " is the database " + db + "; it would be overwritten");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      const std::string journal = db + suffix;
      std::error_code ec;
      if (SameFile(path, journal) || resolved == Resolved(db) + suffix ||
          resolved == fs::absolute(db, ec).lexically_normal().string() + suffix)
        throw InputError(refused + " is the engine's journal of " + db + "; writing it would damage the database");
    }
  }
  if (IsDatabaseFile(path)) throw InputError(refused + " is a database; it would be overwritten");
}

OutputFile::OutputFile(const std::string& path, const char* what)
    : path_(path), what_(what), buffer_(1 << 16) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw InputError("cannot write the " + what_ + " file " + path + ": " + std::strerror(errno));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

OutputFile::~OutputFile() {
  // Finish() reports errors; here they can only be dropped.
  try {
    Drain();
  } catch (...) {
  }
  ::close(fd_);
}

void OutputFile::Fail(int err) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());  // what failed is gone
  throw Error("cannot write the " + what_ + " file " + path_ + ": " + std::strerror(err));
}

void OutputFile::Drain() {
  const char* p = pbase();
  std::size_t left = static_cast<std::size_t>(pptr() - pbase());
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

OutputFile::int_type OutputFile::overflow(int_type ch) {
  Drain();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int OutputFile::sync() {
  Drain();
  return 0;
}

void OutputFile::Finish() {
  Drain();
  // A character device (/dev/stdout, a terminal) need not be synced.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) Fail(errno);
}

void OutputFile::Restart() {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  // A device or pipe has nothing to cut or rewind.
  if (::ftruncate(fd_, 0) != 0 && errno != EINVAL) Fail(errno);
  if (::lseek(fd_, 0, SEEK_SET) < 0 && errno != ESPIPE) Fail(errno);
}

void WriteAtomically(const std::string& path, const std::string& text, const char* what) {
  const std::string temp = path + ".tmp";
  {
    OutputFile file(temp, what);
    std::ostream out(&file);
    out.exceptions(std::ios::badbit);
    out << text;
    out.flush();
    file.Finish();
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0)
    throw Error(std::string("cannot write the ") + what + " file " + path + ": " + std::strerror(errno));
  // The rename itself must reach the disk for the file to be there after a
  // power loss.
  std::error_code ec;
  fs::path dir = fs::absolute(path, ec).parent_path();
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace velaccap::run
