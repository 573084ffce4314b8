#include "batch/html.h"

#include <algorithm>
#include <cstdio>

namespace velaccap::batch {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

std::string Cell(long long n) { return n < 0 ? "-" : std::to_string(n); }

std::string ClassOf(const SetResult& r) {
  if (r.status == "succeeded") return "ok";
  if (r.status == "skipped") return "skipped";
  if (r.status == kNotStarted) return "waiting";
  return "bad";
}

// The page's head and its style, shared by both reports.
std::string PageHead(const std::string& title) {
  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<title>" + HtmlEscape(title) + "</title>\n";
  h += "<style>\n"
       "body{font-family:sans-serif;margin:2em;color:#222}\n"
       "table{border-collapse:collapse}\n"
       "th,td{border:1px solid #bbb;padding:.3em .6em;text-align:left;vertical-align:top}\n"
       "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
       "tr.bad td.status{background:#f8d0d0;font-weight:bold}\n"
       "tr.ok td.status{background:#d4f0d4}\n"
       "tr.skipped td.status{background:#e4e4f4}\n"
       "td.error{white-space:pre-wrap;font-family:monospace;max-width:60em}\n"
       "</style>\n</head>\n<body>\n";
  h += "<h1>" + HtmlEscape(title) + "</h1>\n";
  return h;
}

}  // namespace

std::string HtmlReport(const std::vector<SetResult>& results, const std::string& title) {
  // The sets that need attention first, each group in manifest order.
  std::vector<const SetResult*> order;
  for (const SetResult& r : results)
    if (!r.ok()) order.push_back(&r);
  for (const SetResult& r : results)
    if (r.ok()) order.push_back(&r);
  const std::size_t failed = static_cast<std::size_t>(std::count_if(results.begin(), results.end(),
                                                                     [](const SetResult& r) { return !r.ok(); }));

  std::string h = PageHead(title);
  h += "<p id=\"counts\">" + HtmlEscape(CountsLine(results)) + "</p>\n";
  h += failed ? "<p id=\"verdict\">" + std::to_string(failed) + (failed == 1 ? " set needs" : " sets need") +
                    " attention; they are listed first.</p>\n"
              : std::string("<p id=\"verdict\">Every set is upgraded.</p>\n");
  h += "<table id=\"sets\">\n<thead><tr><th>set</th><th>status</th><th>rows read</th><th>rows written</th>"
       "<th>reconciliation</th><th>seconds</th><th>source</th><th>target</th><th>error</th></tr></thead>\n<tbody>\n";
  for (const SetResult* r : order) {
    h += "<tr class=\"" + ClassOf(*r) + "\"><td class=\"name\">" + HtmlEscape(r->name) + "</td><td class=\"status\">" +
         HtmlEscape(r->status) + "</td><td class=\"n\">" + Cell(r->rows_read) + "</td><td class=\"n\">" +
         Cell(r->rows_written) + "</td><td>" + HtmlEscape(ReconciliationText(r->reconciliation)) +
         "</td><td class=\"n\">" + (r->status == "skipped" || r->status == kNotStarted ? "-" : Seconds(r->seconds)) + "</td><td>" +
         HtmlEscape(r->source) + "</td><td>" + HtmlEscape(r->target) + "</td><td class=\"error\">" +
         HtmlEscape(r->error) + "</td></tr>\n";
  }
  h += "</tbody>\n</table>\n</body>\n</html>\n";
  return h;
}

std::string HtmlCheckReport(const std::vector<CheckedSet>& sets, const std::string& title) {
  std::vector<const CheckedSet*> order;
  for (const CheckedSet& s : sets)
    if (s.status != "would_finish") order.push_back(&s);
  const std::size_t attention = order.size();
  for (const CheckedSet& s : sets)
    if (s.status == "would_finish") order.push_back(&s);
  auto count = [](const CheckedSet& s, const char* what) {
    return s.check.is_object() && s.check.contains(what) ? s.check[what].dump() : std::string("-");
  };
  auto where = [](const nlohmann::ordered_json& p) {
    std::string w = p["step"].is_number() ? "step " + p["step"].dump() + " " : std::string();
    w += p["table"].is_string() ? p["table"].get<std::string>() : std::string("(both databases)");
    if (p["key"].is_string()) w += ", " + p["key"].get<std::string>();
    return w;
  };
  std::string h = PageHead(title);
  h += "<p id=\"counts\">" + std::to_string(sets.size()) + (sets.size() == 1 ? " set" : " sets") + " checked: " +
       std::to_string(sets.size() - attention) + " would run to the end</p>\n";
  h += attention ? "<p id=\"verdict\">" + std::to_string(attention) + (attention == 1 ? " set needs" : " sets need") +
                       " attention before the upgrade; they are listed first.</p>\n"
                 : std::string("<p id=\"verdict\">Every set would be upgraded to its end.</p>\n");
  h += "<table id=\"sets\">\n<thead><tr><th>set</th><th>status</th><th>errors</th><th>warnings</th>"
       "<th>where it stops</th><th>source</th><th>target</th></tr></thead>\n<tbody>\n";
  for (const CheckedSet* s : order) {
    std::string stop = s->error;
    if (s->check.is_object() && s->check["stop"].is_object())
      stop = where(s->check["stop"]) + ": " + s->check["stop"]["reason"].get<std::string>();
    h += "<tr class=\"" + std::string(s->status == "would_finish" ? "ok" : "bad") + "\"><td class=\"name\">" +
         HtmlEscape(s->name) + "</td><td class=\"status\">" + HtmlEscape(s->status) + "</td><td class=\"n\">" +
         count(*s, "errors") + "</td><td class=\"n\">" + count(*s, "warnings") + "</td><td class=\"error\">" +
         HtmlEscape(stop) + "</td><td>" + HtmlEscape(s->source) + "</td><td>" + HtmlEscape(s->target) +
         "</td></tr>\n";
  }
  h += "</tbody>\n</table>\n";
  // Each set's whole findings, warnings included, in the table's order.
  for (const CheckedSet* s : order) {
    if (!s->check.is_object() || s->check["problems"].empty()) continue;
    h += "<h2>" + HtmlEscape(s->name) + "</h2>\n<table class=\"problems\">\n<thead><tr><th>severity</th>"
         "<th>code</th><th>where</th><th>reason</th></tr></thead>\n<tbody>\n";
    for (const auto& p : s->check["problems"])
      h += "<tr class=\"" + std::string(p["severity"] == "error" ? "bad" : "ok") + "\"><td class=\"status\">" +
           HtmlEscape(p["severity"].get<std::string>()) + "</td><td>" + HtmlEscape(p["code"].get<std::string>()) +
           "</td><td>" + HtmlEscape(where(p)) + "</td><td class=\"error\">" +
           HtmlEscape(p["reason"].get<std::string>()) + "</td></tr>\n";
    h += "</tbody>\n</table>\n";
  }
  h += "</body>\n</html>\n";
  return h;
}

}  // namespace velaccap::batch
