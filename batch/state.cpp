#include "batch/state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "run/output_file.h"
#include "velaccap/open.h"

namespace velaccap::batch {

SourceStamp StampOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

State::State(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return;
    throw InputError("cannot read the state file " + path_ + ": " + std::strerror(errno));
  }
  std::ostringstream text;
  text << in.rdbuf();
  try {
    const nlohmann::json doc = nlohmann::json::parse(text.str());
    for (const auto& [name, e] : doc.at("sets").items()) {
      Entry entry;
      entry.status = e.at("status").get<std::string>();
      entry.source = e.at("source").get<std::string>();
      entry.target = e.at("target").get<std::string>();
      entry.stamp.size = e.at("source_size").get<std::int64_t>();
      entry.stamp.mtime_ns = e.at("source_mtime_ns").get<std::int64_t>();
      if (e.contains("result")) entry.result = e["result"];
      entries_[name] = std::move(entry);
    }
  } catch (const nlohmann::json::exception& e) {
    throw InputError("the state file " + path_ + " is not a batch state (" + e.what() +
                     "); remove it to start the batch afresh, or name another with --state");
  }
}

const Entry* State::Find(const std::string& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

void State::Save() const {
  nlohmann::json sets = nlohmann::json::object();
  for (const auto& [name, e] : entries_) {
    nlohmann::json j{{"status", e.status},
                     {"source", e.source},
                     {"target", e.target},
                     {"source_size", e.stamp.size},
                     {"source_mtime_ns", e.stamp.mtime_ns}};
    if (!e.result.is_null()) j["result"] = e.result;
    sets[name] = std::move(j);
  }
  nlohmann::json doc{{"version", 1}, {"sets", std::move(sets)}};
  run::WriteAtomically(path_, doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", "state");
}

StateLock::StateLock(const std::string& state_path) {
  const std::string path = state_path + ".lock";
  // Deliberately inherited across exec: see the class comment.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  if (fd_ < 0) throw InputError("cannot create the lock file " + path + ": " + std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    if (err == EWOULDBLOCK)
      throw InputError("another batch works on the state file " + state_path +
                       " (or the sets of a batch that was killed still run); run again when it has finished");
    throw InputError("cannot lock " + path + ": " + std::strerror(err));
  }
}

StateLock::~StateLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace velaccap::batch
