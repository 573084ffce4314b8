// The Access loader on any file: the bytes are written to a file named
// .mdb, opened as a source and every table it loaded read whole. Refusing
// the file (InputError, Error) is a good answer; a crash, a leak or a load
// that does not end is not.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/mdb.h"
#include "fuzz/fuzz_check.h"
#include "velaccap/open.h"

namespace velaccap::fuzz_mdb_source {

// One scratch folder per process, removed at exit.
class Scratch {
 public:
  Scratch() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velaccap-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string file(const char* name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// Opens the file and renders every value of every table; returns the
// length of it all.
inline long long ReadAll(const std::string& path) {
  std::unique_ptr<SourceDatabase> source = OpenAccessSource(path);
  std::vector<std::string> tables;
  auto names = source->OpenRecordset("Select name From sqlite_master Where type='table' Order By name");
  for (; !names->eof(); names->move_next()) tables.push_back(names->field_value(0).ToStatementText());
  names->close();
  long long values = 0;
  for (const std::string& table : tables) {
    std::string quoted = "\"";
    for (char c : table) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += '"';
    auto rs = source->OpenRecordset("Select * From " + quoted);
    for (; !rs->eof(); rs->move_next())
      for (int i = 0; i < rs->field_count(); ++i) values += static_cast<long long>(DebugString(rs->field_value(i)).size());
    VELACCAP_FUZZ_CHECK(rs->record_count() >= 0, "negative row count");
    rs->close();
    // Case-blind text comparison, which the upgrade's queries rely on.
    source->OpenRecordset("Select count(*) From " + quoted + " Where 'a' = 'A'")->close();
  }
  return values;
}

inline void Check(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  const std::string path = scratch.file("input.mdb");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  try {
    ReadAll(path);
  } catch (const Error&) {
    // Refused: InputError for a file that is not a readable account set,
    // Error for what the engines said.
  }
}

}  // namespace velaccap::fuzz_mdb_source

#ifndef VELACCAP_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velaccap::fuzz_mdb_source::Check(data, size);
  return 0;
}
#endif
