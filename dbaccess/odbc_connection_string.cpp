#include "dbaccess/odbc_connection_string.h"

#include "dbaccess/ascii.h"

namespace velaccap {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Whether braced `value` holds ";PWD=" or ";Password=", blanks allowed.
bool HoldsPasswordAttribute(std::string_view value) {
  for (std::size_t i = value.find(';'); i != std::string_view::npos; i = value.find(';', i + 1)) {
    std::size_t k = i + 1;
    while (k < value.size() && IsBlank(value[k])) ++k;
    std::size_t e = k;
    while (e < value.size() && value[e] != '=' && value[e] != ';') ++e;
    if (e == value.size() || value[e] != '=') continue;
    std::size_t ke = e;
    while (ke > k && IsBlank(value[ke - 1])) --ke;
    if (IsOdbcPasswordKey(value.substr(k, ke - k))) return true;
  }
  return false;
}

}  // namespace

const OdbcAttribute* OdbcConnectionString::Find(std::string_view key) const {
  for (const OdbcAttribute& a : attributes)
    if (EqualNoCase(a.key, key)) return &a;
  return nullptr;
}

std::optional<std::string> OdbcConnectionString::Value(std::string_view key) const {
  const OdbcAttribute* a = Find(key);
  if (!a) return std::nullopt;
  return a->value;
}

OdbcConnectionString ParseOdbcConnectionString(std::string_view s) {
  OdbcConnectionString out;
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t part = i;
    std::size_t eq = i;
    while (eq < n && s[eq] != '=' && s[eq] != ';') ++eq;
    std::size_t kb = i, ke = eq;
    while (kb < ke && IsBlank(s[kb])) ++kb;
    while (ke > kb && IsBlank(s[ke - 1])) --ke;
    if (eq == n || s[eq] == ';') {
      // Only blanks between two ';' (or after the last) is no attribute.
      if (kb == ke) {
        i = eq == n ? n : eq + 1;
        continue;
      }
      out.unreadable_from = part;
      return out;
    }
    // No key, or braces in one: misplaced braces whose value may run on.
    if (kb == ke || s.substr(kb, ke - kb).find_first_of("{}") != std::string_view::npos) {
      out.unreadable_from = part;
      return out;
    }

    OdbcAttribute a;
    a.key.assign(s.substr(kb, ke - kb));
    a.key_begin = kb;
    a.key_end = ke;
    a.value_begin = eq + 1;
    std::size_t j = eq + 1;
    while (j < n && IsBlank(s[j])) ++j;
    if (j < n && s[j] == '{') {
      // Blanks before the brace are taken as the driver manager's readers
      // differ there: read as unbraced, a ';' inside the braces would end
      // the value early and show what follows as an attribute of its own.
      a.braced = true;
      ++j;
      for (;;) {
        if (j >= n) {
          out.unreadable_from = a.value_begin;
          return out;
        }
        if (s[j] == '}') {
          if (j + 1 < n && s[j + 1] == '}') {
            a.value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        a.value += s[j++];
      }
      while (j < n && IsBlank(s[j])) ++j;
      if (j < n && s[j] != ';') {
        out.unreadable_from = a.value_begin;
        return out;
      }
      a.value_end = j;
      // A brace left open before the password would make it part of this
      // value, shown where a password never is: no longer certain.
      if (!IsOdbcPasswordKey(a.key) && HoldsPasswordAttribute(a.value)) {
        out.unreadable_from = a.value_begin;
        return out;
      }
    } else {
      std::size_t end = s.find(';', a.value_begin);
      a.value_end = end == std::string_view::npos ? n : end;
      a.value.assign(s.substr(a.value_begin, a.value_end - a.value_begin));
    }
    i = a.value_end == n ? n : a.value_end + 1;
    out.attributes.push_back(std::move(a));
  }
  return out;
}

bool IsOdbcPasswordKey(std::string_view key) { return EqualNoCase(key, "PWD") || EqualNoCase(key, "Password"); }

std::string MaskOdbcPasswords(std::string_view text) {
  const OdbcConnectionString cs = ParseOdbcConnectionString(text);
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (const OdbcAttribute& a : cs.attributes) {
    if (!IsOdbcPasswordKey(a.key)) continue;
    out.append(text.substr(at, a.value_begin - at));
    out += "***";
    at = a.value_end;
  }
  if (cs.complete()) {
    out.append(text.substr(at));
  } else {
    out.append(text.substr(at, cs.unreadable_from - at));
    out += "***";
  }
  return out;
}

std::string AddOdbcPassword(std::string_view text, std::string_view password) {
  const OdbcConnectionString cs = ParseOdbcConnectionString(text);
  std::string out(text);
  if (password.empty() || !cs.complete() || cs.Find("PWD") || cs.Find("Password")) return out;
  const std::size_t last = out.find_last_not_of(" \t\r\n\f\v");
  if (last != std::string::npos && out[last] != ';') out += ';';
  out += "PWD={";
  for (char c : password) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

}  // namespace velaccap
