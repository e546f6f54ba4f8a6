#include "tools/refservice/ScenarioParser.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace refservice {
namespace {

using Setter = std::function<void(Scenario&, std::string_view)>;

// Far beyond any file, yet a file's size plus it cannot overflow.
constexpr std::int64_t kLargestDelta = 1LL << 62;

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::string unescaped(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) throw ScenarioError("a lone \\ ends the value");
    switch (value[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        throw ScenarioError(std::string("unknown escape \\") + value[i]);
    }
  }
  return out;
}

std::int64_t number(std::string_view value, std::int64_t min, std::int64_t max) {
  std::int64_t n = 0;
  const auto* end = value.data() + value.size();
  const auto [ptr, ec] = std::from_chars(value.data(), end, n);
  if (value.empty() || ec != std::errc() || ptr != end || n < min || n > max)
    throw ScenarioError("not a number from " + std::to_string(min) + " to " + std::to_string(max) + ": \"" +
                        std::string(value) + "\"");
  return n;
}

// Comma-separated numbers from 0, blanks around them allowed; empty: none.
std::set<std::int64_t> numberSet(std::string_view value) {
  std::set<std::int64_t> numbers;
  if (trimmed(value).empty()) return numbers;
  for (std::size_t from = 0; from <= value.size();) {
    const auto comma = std::min(value.find(',', from), value.size());
    numbers.insert(number(trimmed(value.substr(from, comma - from)), 0, INT64_MAX));
    from = comma + 1;
  }
  return numbers;
}

std::optional<std::int64_t> optionalNumber(std::string_view value, std::int64_t min) {
  if (value.empty()) return std::nullopt;
  return number(value, min, INT64_MAX);
}

bool flag(std::string_view value) {
  if (value == "on" || value == "true" || value == "yes" || value == "1") return true;
  if (value == "off" || value == "false" || value == "no" || value == "0") return false;
  throw ScenarioError("not on or off: \"" + std::string(value) + "\"");
}

int statusCode(std::string_view value) {
  return static_cast<int>(number(value, 100, 599));
}

std::chrono::milliseconds millis(std::string_view value) {
  return std::chrono::milliseconds(number(value, 0, 24LL * 3600 * 1000));
}

Repeat repeat(std::string_view value) {
  if (value == "once") return Repeat::Once;
  if (value == "always") return Repeat::Always;
  throw ScenarioError("not once or always: \"" + std::string(value) + "\"");
}

LinkAnswer linkAnswer(std::string_view value) {
  if (value == "installer") return LinkAnswer::Installer;
  if (value == "error-000") return LinkAnswer::ServerError;
  if (value == "error-001") return LinkAnswer::NeedUpdate;
  if (value == "raw") return LinkAnswer::RawText;
  throw ScenarioError("not installer, error-000, error-001 or raw: \"" + std::string(value) + "\"");
}

Redirect redirect(std::string_view value) {
  if (value == "none") return Redirect::None;
  if (value == "http") return Redirect::ToHttp;
  if (value == "other-host") return Redirect::ToOtherHost;
  throw ScenarioError("not none, http or other-host: \"" + std::string(value) + "\"");
}

DigestHeader digestHeader(std::string_view value) {
  if (value == "none") return DigestHeader::None;
  if (value == "right") return DigestHeader::Right;
  if (value == "wrong") return DigestHeader::Wrong;
  if (value == "legacy") return DigestHeader::LegacyRight;
  throw ScenarioError("not none, right, wrong or legacy: \"" + std::string(value) + "\"");
}

bool httpScheme(std::string_view value) {
  if (value == "http") return true;
  if (value == "https") return false;
  throw ScenarioError("not http or https: \"" + std::string(value) + "\"");
}

struct Entry {
  std::string_view values;
  Setter set;
};

const std::map<std::string_view, Entry>& table() {
  static const std::map<std::string_view, Entry> entries{
      {"link",
       {"installer | error-000 | error-001 | raw", [](Scenario& s, auto v) { s.link = linkAnswer(v); }}},
      {"link-installer",
       {"NAME of the installer the link names", [](Scenario& s, auto v) { s.linkInstaller = unescaped(v); }}},
      {"link-scheme", {"https | http", [](Scenario& s, auto v) { s.linkHttpScheme = httpScheme(v); }}},
      {"link-crlf", {"on | off: CR LF after the link", [](Scenario& s, auto v) { s.linkCrLf = flag(v); }}},
      {"update-link",
       {"URL sent after \"ERROR: 001\"", [](Scenario& s, auto v) { s.updateLink = unescaped(v); }}},
      {"link-text", {"TEXT answered by link=raw", [](Scenario& s, auto v) { s.linkText = unescaped(v); }}},
      {"signed-links",
       {"on | off: sign the installer link; unsigned or expired links get 403",
        [](Scenario& s, auto v) { s.signedLinks = flag(v); }}},
      {"link-lifetime-ms",
       {"MS a signed link stays good", [](Scenario& s, auto v) { s.linkLifetime = millis(v); }}},
      {"links-expire-after",
       {"N: signed requests after which the links signed so far get 403 (a key rotation)",
        [](Scenario& s, auto v) { s.linksExpireAfter = optionalNumber(v, 0); }}},
      {"link-status",
       {"HTTP status of the link answer", [](Scenario& s, auto v) { s.linkStatus = statusCode(v); }}},
      {"heartbeat",
       {"TEXT of the heartbeat answer", [](Scenario& s, auto v) { s.heartbeatText = unescaped(v); }}},
      {"heartbeat-status",
       {"HTTP status of the heartbeat answer",
        [](Scenario& s, auto v) { s.heartbeatStatus = statusCode(v); }}},
      {"update-info-status",
       {"HTTP status of the start report", [](Scenario& s, auto v) { s.updateInfoStatus = statusCode(v); }}},
      {"update-status-status",
       {"HTTP status of status reports", [](Scenario& s, auto v) { s.updateStatusStatus = statusCode(v); }}},
      {"update-size-status",
       {"HTTP status of size reports", [](Scenario& s, auto v) { s.updateSizeStatus = statusCode(v); }}},
      {"slow-reports",
       {"on | off: report bodies at one byte a second",
        [](Scenario& s, auto v) { s.slowReports = flag(v); }}},
      {"gzip", {"on | off: gzip the POST answers", [](Scenario& s, auto v) { s.gzip = flag(v); }}},
      {"answer-delay-ms",
       {"MS before each POST answer", [](Scenario& s, auto v) { s.answerDelay = millis(v); }}},
      {"fail-at-byte",
       {"OFFSET: fail the ranged GET starting there",
        [](Scenario& s, auto v) { s.installer.failAtByte = optionalNumber(v, 0); }}},
      {"fail-repeat", {"once | always", [](Scenario& s, auto v) { s.installer.failRepeat = repeat(v); }}},
      {"fail-at-request",
       {"N: fail the Nth ranged GET",
        [](Scenario& s, auto v) { s.installer.failAtRequest = optionalNumber(v, 1); }}},
      {"fail-status",
       {"HTTP status of those failures (404)",
        [](Scenario& s, auto v) { s.installer.failStatus = statusCode(v); }}},
      {"retry-after",
       {"SECONDS sent as Retry-After with those failures (empty: none)",
        [](Scenario& s, auto v) {
          s.installer.retryAfter =
              v.empty() ? std::nullopt : std::optional<int>(static_cast<int>(number(v, 0, INT32_MAX)));
        }}},
      {"drop-after-bytes",
       {"N: close the connection after N body bytes",
        [](Scenario& s, auto v) { s.installer.dropAfterBytes = optionalNumber(v, 0); }}},
      {"drop-repeat", {"once | always", [](Scenario& s, auto v) { s.installer.dropRepeat = repeat(v); }}},
      {"stall-after-bytes",
       {"N: the connection goes silent after N body bytes",
        [](Scenario& s, auto v) { s.installer.stallAfterBytes = optionalNumber(v, 0); }}},
      {"stall-repeat", {"once | always", [](Scenario& s, auto v) { s.installer.stallRepeat = repeat(v); }}},
      {"ignore-range",
       {"on | off: answer 200 with the whole file",
        [](Scenario& s, auto v) { s.installer.ignoreRange = flag(v); }}},
      {"head-status",
       {"HTTP status of HEAD answers", [](Scenario& s, auto v) { s.installer.headStatus = statusCode(v); }}},
      {"head-length",
       {"TEXT sent as the HEAD Content-Length (empty: the size)",
        [](Scenario& s, auto v) {
          if (v.empty())
            s.installer.headContentLength.reset();
          else
            s.installer.headContentLength = unescaped(v);
        }}},
      {"head-size-delta",
       {"N added to the size in HEAD answers (may be negative)",
        [](Scenario& s, auto v) { s.installer.headSizeDelta = number(v, -kLargestDelta, kLargestDelta); }}},
      {"shorten-body-by",
       {"N: 206 bodies are N bytes short of their Content-Range",
        [](Scenario& s, auto v) { s.installer.shortenBodyBy = optionalNumber(v, 0); }}},
      {"etag",
       {"on | off: send the ETag header", [](Scenario& s, auto v) { s.installer.sendEtag = flag(v); }}},
      {"etag-change-after",
       {"N: the ETag changes after N installer requests",
        [](Scenario& s, auto v) { s.installer.etagChangesAfter = optionalNumber(v, 0); }}},
      {"weak-etag",
       {"on | off: send the ETag as W/\"...\"", [](Scenario& s, auto v) { s.installer.weakEtag = flag(v); }}},
      {"other-version-on-ranges",
       {"on | off: 206 answers name another ETag and Last-Modified",
        [](Scenario& s, auto v) { s.installer.otherVersionOnRanges = flag(v); }}},
      {"redirect",
       {"none | http | other-host: answer 302",
        [](Scenario& s, auto v) { s.installer.redirect = redirect(v); }}},
      {"digest",
       {"none | right | wrong | legacy: send the SHA-256",
        [](Scenario& s, auto v) { s.installer.digest = digestHeader(v); }}},
      {"rate-limit",
       {"BYTES per second per answer (0: none)",
        [](Scenario& s, auto v) { s.installer.rateLimit = number(v, 0, INT64_MAX); }}},
      {"first-byte-delay-ms",
       {"MS before each GET answer", [](Scenario& s, auto v) { s.installer.firstByteDelay = millis(v); }}},
      {"hold", {"on | off: hold GET bodies", [](Scenario& s, auto v) { s.installer.hold = flag(v); }}},
      {"hold-after-bytes",
       {"N body bytes sent before the hold applies",
        [](Scenario& s, auto v) { s.installer.holdAfterBytes = number(v, 0, INT64_MAX); }}},
      {"hold-ranges",
       {"A,B,...: hold only the bodies of ranges that start at these bytes (empty: all)",
        [](Scenario& s, auto v) { s.installer.holdRanges = numberSet(v); }}},
      {"drop-on-release",
       {"on | off: a held body drops its connection when released",
        [](Scenario& s, auto v) { s.installer.dropOnRelease = flag(v); }}},
  };
  return entries;
}

}  // namespace

void applyScenarioSetting(Scenario& scenario, std::string_view key, std::string_view value) {
  const auto it = table().find(key);
  if (it == table().end()) throw ScenarioError("unknown scenario key \"" + std::string(key) + "\"");
  try {
    it->second.set(scenario, value);
  } catch (const ScenarioError& e) {
    throw ScenarioError(std::string(key) + ": " + e.what());
  }
}

Scenario parseScenarioText(std::string_view text, Scenario base) {
  std::istringstream lines{std::string(text)};
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const auto content = trimmed(line);
    if (content.empty() || content.front() == '#') continue;
    const auto equals = content.find('=');
    if (equals == std::string::npos)
      throw ScenarioError("line " + std::to_string(number) + ": expected key = value");
    try {
      applyScenarioSetting(base, trimmed(std::string_view(content).substr(0, equals)),
                           trimmed(std::string_view(content).substr(equals + 1)));
    } catch (const ScenarioError& e) {
      throw ScenarioError("line " + std::to_string(number) + ": " + e.what());
    }
  }
  return base;
}

Scenario loadScenarioFile(const std::string& path, Scenario base) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError("cannot read scenario file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return parseScenarioText(text.str(), std::move(base));
  } catch (const ScenarioError& e) {
    throw ScenarioError(path + ": " + e.what());
  }
}

const std::vector<ScenarioKey>& scenarioKeys() {
  static const std::vector<ScenarioKey> keys = [] {
    std::vector<ScenarioKey> out;
    for (const auto& [name, entry] : table()) out.push_back({name, entry.values});
    return out;
  }();
  return keys;
}

}  // namespace refservice
