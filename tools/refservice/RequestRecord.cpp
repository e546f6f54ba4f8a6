#include "tools/refservice/RequestRecord.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace refservice {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<std::string> lookup(const HeaderList& list, std::string_view name) {
  for (const auto& [key, value] : list)
    if (sameName(key, name)) return value;
  return std::nullopt;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  unsigned min = 0;
  if (c >= 0xc2 && c <= 0xdf)
    length = 2, min = 0x80;
  else if (c >= 0xe0 && c <= 0xef)
    length = 3, min = 0x800;
  else if (c >= 0xf0 && c <= 0xf4)
    length = 4, min = 0x10000;
  else
    return 0;
  if (i + length > text.size()) return 0;
  unsigned code = c & (0x3f >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xc0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3f);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (code < min || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
  return length;
}

void appendString(std::string& out, std::string_view text) {
  out += '"';
  char escape[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const auto length = utf8Length(text, i); length > 0) {
      out.append(text.substr(i, length));
      i += length - 1;
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  out += '"';
}

void appendPairs(std::string& out, const std::vector<std::pair<std::string, std::string>>& pairs) {
  out += '[';
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) out += ',';
    out += '[';
    appendString(out, pairs[i].first);
    out += ',';
    appendString(out, pairs[i].second);
    out += ']';
  }
  out += ']';
}

std::string isoTime(std::chrono::system_clock::time_point time) {
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace

std::optional<std::string> RequestRecord::header(std::string_view name) const {
  return lookup(headers, name);
}

std::optional<std::string> RequestRecord::responseHeader(std::string_view name) const {
  return lookup(responseHeaders, name);
}

std::optional<std::string> RequestRecord::field(std::string_view name) const {
  for (const auto& [key, value] : form)
    if (key == name) return value;
  return std::nullopt;
}

void RequestRecord::addFault(const std::string& note) {
  if (!fault.empty()) fault += "; ";
  fault += note;
}

std::string_view outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Pending:
      return "pending";
    case Outcome::Complete:
      return "complete";
    case Outcome::Aborted:
      return "aborted";
  }
  return "pending";
}

std::string toJsonLine(const RequestRecord& r) {
  std::string out = "{\"seq\":" + std::to_string(r.seq) + ",\"time\":";
  appendString(out, isoTime(r.time));
  out += ",\"sinceStartMs\":" + std::to_string(r.sinceStart.count() / 1000) + ",\"peer\":";
  appendString(out, r.peer);
  out += ",\"method\":";
  appendString(out, r.method);
  out += ",\"target\":";
  appendString(out, r.target);
  out += ",\"path\":";
  appendString(out, r.path);
  out += ",\"headers\":";
  appendPairs(out, r.headers);
  out += ",\"body\":";
  appendString(out, r.body);
  out += ",\"form\":";
  appendPairs(out, r.form);
  out += ",\"range\":";
  appendString(out, r.range);
  out += ",\"status\":" + std::to_string(r.status) + ",\"responseHeaders\":";
  appendPairs(out, r.responseHeaders);
  out += ",\"bytesSent\":" + std::to_string(r.bytesSent) + ",\"outcome\":";
  appendString(out, outcomeName(r.outcome));
  out += ",\"fault\":";
  appendString(out, r.fault);
  out += ",\"error\":";
  appendString(out, r.error);
  out += '}';
  return out;
}

}  // namespace refservice
