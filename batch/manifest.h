// The manifest of an installation: the account sets to upgrade, one a row,
// each with a name, its 8.12 source and its 8.20 target. A CSV file whose
// header row is `name,source,target`, or a JSON file (`.json`): an array of
// objects with those three members, or an object whose "sets" is that array.
// Relative paths are taken from the manifest's folder, so that a manifest
// and its account sets can move together.
#pragma once

#include <string>
#include <vector>

namespace velaccap::batch {

struct Set {
  std::string name;
  std::string source;  // as the tool opens it: a path, resolved
  std::string target;  // a path, resolved, or odbc:<connection string>
  std::string where;   // "MANIFEST line 4" or "MANIFEST entry 3", for messages
  int line = 0;        // the line or entry number, for ordering
};

// A problem of the manifest, named by its place in the file.
struct Problem {
  std::string where;
  std::string text;
  int line = 0;  // 0: the file as a whole
};

struct Manifest {
  std::vector<Set> sets;
  std::vector<Problem> problems;  // empty when every row could be read
};

// Reads the manifest. A file that cannot be read at all is one problem;
// otherwise every row that cannot be used is one.
Manifest ReadManifest(const std::string& path);

// The problems between sets, none opened: duplicate names, two sets that
// write one target (also one file under two names), a set whose target is
// another set's source or its own.
std::vector<Problem> CrossProblems(const std::vector<Set>& sets);

// "K/N": the K-th of N shards (1-based). Throws InputError when malformed.
struct Shard {
  int k = 1;
  int n = 1;
  bool whole() const { return n == 1; }
  std::string text() const { return std::to_string(k) + "/" + std::to_string(n); }
};
Shard ParseShard(const std::string& text);

// Every n-th set of the manifest, starting at the k-th.
std::vector<Set> TakeShard(const std::vector<Set>& sets, const Shard& shard);

// The problems as error lines "apupgrade: MANIFEST line 4: text", in the
// file's order.
std::string ProblemText(const std::vector<Problem>& problems);

}  // namespace velaccap::batch
