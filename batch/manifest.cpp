#include "batch/manifest.h"

#include <csv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "progress/messages.h"
#include "run/account_set.h"
#include "run/output_file.h"
#include "velaccap/open.h"

namespace velaccap::batch {

namespace {

namespace fs = std::filesystem;

// A path of the manifest as the tool opens it; ODBC targets stay as written.
std::string Resolve(const fs::path& base, const std::string& path) {
  if (path.rfind("odbc:", 0) == 0) return path;
  fs::path p(path);
  if (p.is_relative()) p = base / p;
  return p.lexically_normal().string();
}

struct Row {
  int line = 0;
  std::vector<std::string> fields;
};

// libcsv hands over fields and row ends through callbacks.
struct CsvRows {
  int line = 0;  // the physical line being fed
  Row current;
  bool in_row = false;
  std::vector<Row> rows;

  static void Field(void* text, std::size_t len, void* data) {
    auto* self = static_cast<CsvRows*>(data);
    if (!self->in_row) {
      self->in_row = true;
      self->current.line = self->line;
    }
    self->current.fields.emplace_back(text ? static_cast<const char*>(text) : "", text ? len : 0);
  }
  static void End(int, void* data) {
    auto* self = static_cast<CsvRows*>(data);
    if (!self->in_row) return;
    self->rows.push_back(std::move(self->current));
    self->current = Row{};
    self->in_row = false;
  }
};

// A NUL byte would cut a path short where the system takes it; a control
// character in a name would reach terminals and pages as it is.
std::string Unprintable(const Set& set) {
  std::string bad;
  for (auto [col, text] : {std::pair{"name", &set.name}, {"source", &set.source}, {"target", &set.target}}) {
    const bool name = text == &set.name;
    const bool control = std::any_of(text->begin(), text->end(), [name](char c) {
      return c == '\0' || (name && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f));
    });
    if (control) bad += std::string(bad.empty() ? "" : ", ") + col;
  }
  return bad.empty() ? bad : "holds a NUL byte or (in a name) a control character: " + bad;
}

void ReadCsv(const std::string& path, const std::string& text, const fs::path& base, Manifest* out) {
  csv_parser parser;
  const unsigned char options = CSV_STRICT | CSV_STRICT_FINI;
  if (csv_init(&parser, options) != 0) throw Error("cannot start the CSV parser");
  CsvRows rows;
  std::size_t at = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a byte order mark
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    ++rows.line;
    if (csv_parse(&parser, text.data() + at, end - at, CsvRows::Field, CsvRows::End, &rows) != end - at) {
      out->problems.push_back({path + " line " + std::to_string(rows.line),
                               std::string("cannot be read as CSV: ") + csv_strerror(csv_error(&parser)) +
                                   " (a quote inside a field that is not quoted, or text after a closing quote)",
                               rows.line});
      // The row is lost; reading goes on at the next line.
      csv_free(&parser);
      if (csv_init(&parser, options) != 0) throw Error("cannot start the CSV parser");
      rows.current = Row{};
      rows.in_row = false;
    }
    at = end;
  }
  if (csv_fini(&parser, CsvRows::Field, CsvRows::End, &rows) != 0)
    out->problems.push_back({path + " line " + std::to_string(rows.current.line ? rows.current.line : rows.line),
                             "a quoted field is not closed before the end of the file",
                             rows.current.line ? rows.current.line : rows.line});
  csv_free(&parser);

  if (rows.rows.empty()) {
    out->problems.push_back({path, "is empty; its first row must be the header name,source,target"});
    return;
  }
  const Row& header = rows.rows.front();
  std::map<std::string, int> column;
  for (std::size_t i = 0; i < header.fields.size(); ++i) column[header.fields[i]] = static_cast<int>(i);
  const bool header_ok = header.fields.size() == 3 && column.count("name") && column.count("source") &&
                         column.count("target");
  if (!header_ok) {
    std::string seen;
    for (const std::string& f : header.fields) seen += (seen.empty() ? "" : ",") + f;
    out->problems.push_back({path + " line " + std::to_string(header.line),
                             "the header row is '" + seen + "'; it must name the columns name,source,target", header.line});
    return;
  }
  for (std::size_t r = 1; r < rows.rows.size(); ++r) {
    const Row& row = rows.rows[r];
    const std::string where = path + " line " + std::to_string(row.line);
    if (row.fields.size() != 3) {
      out->problems.push_back({where,
                               "has " + std::to_string(row.fields.size()) +
                                   " fields; every row has the 3 of the header name,source,target",
                               row.line});
      continue;
    }
    Set set{row.fields[column["name"]], row.fields[column["source"]], row.fields[column["target"]], where, row.line};
    std::string empty;
    for (const char* col : {"name", "source", "target"})
      if (row.fields[column[col]].empty()) empty += std::string(empty.empty() ? "" : ", ") + col;
    if (!empty.empty()) {
      out->problems.push_back({where, "empty " + empty, row.line});
      continue;
    }
    if (const std::string bad = Unprintable(set); !bad.empty()) {
      out->problems.push_back({where, bad, row.line});
      continue;
    }
    set.source = Resolve(base, set.source);
    set.target = Resolve(base, set.target);
    out->sets.push_back(std::move(set));
  }
}

void ReadJson(const std::string& path, const std::string& text, const fs::path& base, Manifest* out) {
  nlohmann::json doc;
  // The parser keeps the last of repeated members silently; which one the
  // writer meant is not certain.
  std::vector<std::set<std::string>> members;
  std::set<std::string> repeated;
  try {
    doc = nlohmann::json::parse(text, [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
      if (event == nlohmann::json::parse_event_t::object_start) members.emplace_back();
      if (event == nlohmann::json::parse_event_t::object_end) members.pop_back();
      if (event == nlohmann::json::parse_event_t::key && !members.back().insert(parsed.get<std::string>()).second)
        repeated.insert(parsed.get<std::string>());
      return true;
    });
  } catch (const nlohmann::json::exception& e) {
    out->problems.push_back({path, std::string("cannot be read as JSON: ") + e.what()});
    return;
  }
  for (const std::string& key : repeated)
    out->problems.push_back({path, "an object holds the member \"" + key + "\" twice; which one is meant is not "
                                   "certain"});
  if (!repeated.empty()) return;
  const nlohmann::json* list = &doc;
  if (doc.is_object() && doc.contains("sets")) list = &doc["sets"];
  if (!list->is_array()) {
    out->problems.push_back({path, "must hold an array of sets, or an object whose \"sets\" is one"});
    return;
  }
  int entry = 0;
  for (const nlohmann::json& item : *list) {
    const std::string where = path + " entry " + std::to_string(++entry);
    if (!item.is_object()) {
      out->problems.push_back({where, "is not an object with name, source and target", entry});
      continue;
    }
    std::string bad;
    Set set;
    set.where = where;
    set.line = entry;
    for (auto [key, field] : {std::pair{"name", &set.name}, {"source", &set.source}, {"target", &set.target}}) {
      auto it = item.find(key);
      if (it == item.end() || !it->is_string() || it->get<std::string>().empty())
        bad += std::string(bad.empty() ? "" : ", ") + key;
      else
        *field = it->get<std::string>();
    }
    for (auto it = item.begin(); it != item.end(); ++it)
      if (it.key() != "name" && it.key() != "source" && it.key() != "target")
        bad += (bad.empty() ? "" : ", ") + ("unknown member " + it.key());
    if (!bad.empty()) {
      out->problems.push_back({where, "missing, empty or not text: " + bad, entry});
      continue;
    }
    if (const std::string unprintable = Unprintable(set); !unprintable.empty()) {
      out->problems.push_back({where, unprintable, entry});
      continue;
    }
    set.source = Resolve(base, set.source);
    set.target = Resolve(base, set.target);
    out->sets.push_back(std::move(set));
  }
}

bool IsOdbc(const std::string& name) { return name.rfind("odbc:", 0) == 0; }

// One database under two names has one identity: for an existing file its
// device and inode, otherwise its name as given.
std::string Identity(const std::string& name) {
  struct stat st;
  if (!IsOdbc(name) && ::stat(name.c_str(), &st) == 0)
    return "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return "name " + name;
}

}  // namespace

Manifest ReadManifest(const std::string& path) {
  Manifest out;
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  if (!in || fs::is_directory(path, ec)) {
    out.problems.push_back({path, "cannot be read: " + std::string(in ? "it is a folder" : std::strerror(errno))});
    return out;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const fs::path base = fs::absolute(path, ec).parent_path();
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower.size() > 5 && lower.compare(lower.size() - 5, 5, ".json") == 0)
    ReadJson(path, text.str(), base, &out);
  else
    ReadCsv(path, text.str(), base, &out);
  if (out.problems.empty() && out.sets.empty()) out.problems.push_back({path, "lists no account set"});
  return out;
}

std::vector<Problem> CrossProblems(const std::vector<Set>& sets) {
  // One pass: each name and database is looked up among the earlier sets'
  // by its identity, each file stat'ed once.
  std::vector<Problem> problems;
  std::unordered_map<std::string, std::size_t> names, targets, sources;
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const Set& s = sets[i];
    const std::string target = run::DisplayName(s.target);
    const std::string source_id = Identity(s.source), target_id = Identity(s.target);
    auto add = [&](const std::string& text) { problems.push_back({s.where, text, s.line}); };
    auto earlier = [&](const std::unordered_map<std::string, std::size_t>& seen, const std::string& key) {
      auto it = seen.find(key);
      return it == seen.end() ? nullptr : &sets[it->second];
    };
    if (source_id == target_id) add("set '" + s.name + "': its source and target are the same database " + target);
    if (const Set* o = earlier(names, s.name)) add("the name '" + s.name + "' is taken already by " + o->where);
    if (const Set* o = earlier(targets, target_id))
      add("set '" + s.name + "' writes the target " + target + ", which set '" + o->name + "' (" + o->where +
          ") writes too");
    if (const Set* o = earlier(sources, target_id))
      add("set '" + s.name + "' writes the target " + target + ", which is the source of set '" + o->name + "' (" +
          o->where + ")");
    if (const Set* o = earlier(targets, source_id))
      add("set '" + s.name + "' reads the source " + s.source + ", which set '" + o->name + "' (" + o->where +
          ") writes as its target");
    names.emplace(s.name, i);
    targets.emplace(target_id, i);
    sources.emplace(source_id, i);
  }
  return problems;
}

Shard ParseShard(const std::string& text) {
  Shard shard;
  const std::size_t slash = text.find('/');
  bool ok = slash != std::string::npos;
  if (ok) {
    try {
      std::size_t used = 0;
      shard.k = std::stoi(text.substr(0, slash), &used);
      ok = used == slash;
      shard.n = std::stoi(text.substr(slash + 1), &used);
      ok = ok && used == text.size() - slash - 1;
    } catch (const std::exception&) {
      ok = false;
    }
  }
  if (!ok || shard.n < 1 || shard.k < 1 || shard.k > shard.n)
    throw InputError("--shard " + text + ": expected K/N with 1 <= K <= N, such as 2/8");
  return shard;
}

std::vector<Set> TakeShard(const std::vector<Set>& sets, const Shard& shard) {
  std::vector<Set> out;
  for (std::size_t i = static_cast<std::size_t>(shard.k - 1); i < sets.size(); i += static_cast<std::size_t>(shard.n))
    out.push_back(sets[i]);
  return out;
}

std::string ProblemText(const std::vector<Problem>& problems) {
  std::vector<Problem> sorted = problems;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Problem& a, const Problem& b) { return a.line < b.line; });
  std::string text;
  for (const Problem& p : sorted) text += progress::ErrorLines(p.where + ": " + p.text);
  return text;
}

}  // namespace velaccap::batch
