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

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", s);
  return text;
}

std::string ClassOf(const SetResult& r) {
  if (r.status == "succeeded") return "ok";
  if (r.status == "skipped") return "skipped";
  if (r.status == kNotStarted) return "waiting";
  return "bad";
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

}  // namespace velaccap::batch
