#include "batch/progress.h"

#include <algorithm>

#include "progress/phases.h"

namespace velaccap::batch {

using Clock = std::chrono::steady_clock;

void Progress::Draw(std::size_t total, std::size_t done, std::size_t failed, std::size_t running,
                    const std::function<progress::RowsSeen()>& rows) {
  const auto now = Clock::now();
  if (!line_.enabled() || !line_.Due(now)) return;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string text = std::to_string(done) + " of " + std::to_string(total) + " sets done, " +
                     std::to_string(failed) + " failed, " + std::to_string(running) + " running";
  const progress::RowsSeen seen = rows ? rows() : progress::RowsSeen{};
  if (elapsed > 0 && seen.done > 0) {
    text += "  " + std::to_string(static_cast<long long>(seen.done / elapsed)) + " rows/s";
    // The rows left at the pace of those read, in the running sets too;
    // the first hundredth gives no pace yet.
    if (seen.to_read >= 0 && seen.done * 100 >= seen.to_read) {
      const long long left =
          static_cast<long long>(elapsed * static_cast<double>(std::max(0LL, seen.to_read - seen.done)) / seen.done + 0.5);
      text += "  about " + (left >= 120 ? std::to_string(left / 60) + " min" : std::to_string(left) + " s") + " left";
    }
  }
  line_.DrawText(now, text);
}

void Progress::Log(std::ostream* log, const std::string& text) {
  if (!log) return;
  line_.Clear();
  *log << progress::Phases::Stamp(std::chrono::system_clock::now()) << ' ' << text << '\n';
  log->flush();
}

progress::RowsSeen Pace::Now() const {
  long long done = ended, to_read = ended;
  double rows = known_rows, bytes = known_bytes, unknown_bytes = waiting_bytes;
  for (const auto& [set, file] : running) {
    const progress::RowsSeen seen = progress::ReadRowsFile(file.first);
    done += seen.done;
    if (seen.to_read >= 0) {
      to_read += seen.to_read;
      rows += static_cast<double>(seen.to_read);
      bytes += file.second;
    } else {
      unknown_bytes += file.second;
    }
  }
  if (unknown_bytes > 0) {
    if (bytes <= 0) return {done, -1};
    to_read += static_cast<long long>(unknown_bytes * rows / bytes);
  }
  return {done, to_read};
}

}  // namespace velaccap::batch
