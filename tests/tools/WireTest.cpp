#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <sstream>

#include "tests/support/Rows.h"
#include "tests/tools/ServiceFixture.h"
#include "tools/refservice/ScenarioParser.h"

namespace refservice::testing {
namespace {

using ov::test::PrintTo;

constexpr std::int64_t kAny = -1;

// One row: the requests are sent one after another, each on a connection of
// its own, with the scenario (as a scenario file) in place; the last one's
// answer is checked as it came off the wire. Requests holding a line break are
// bytes sent as they are, in one go. In requests and expectations,
// {r}0-9 is a GET of {s} ("/installers/Setup.pkg") with "Range: bytes=0-9",
// {p} is "/prog/util/downloader/", {etag} the file's strong tag, {weak} its
// weak form, {other} the tag of another version ({etag} with "-changed"
// before its closing quote) and {sha} the base64 SHA-256 of the file.
struct WireCase {
  std::string name;
  std::string scenario;
  std::string requests;  // one a line: "METHOD PATH | Name: value | ..." (see request())
  int status;
  std::string header;  // "Name: value" as the answer has it; "Name: -": no such header
  // Body bytes received. The Content-Length says the same, unless it is the header checked.
  std::int64_t length = kAny;
  std::string fault = {};  // part of the record's fault note or refusal; empty: none
  std::string body = {};   // the exact body, when not empty
  int atLeastMs = 0;       // the last answer took at least this long
};

class Wire : public ServiceTest, public ::testing::WithParamInterface<WireCase> {
 protected:
  std::string filled(std::string text) {
    const auto sha = [](const std::string& bytes) {
      const auto data = QByteArray::fromStdString(bytes);
      return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toBase64().toStdString();
    };
    const std::pair<std::string, std::string> marks[] = {
        {"{r}", "GET {s} | Range: bytes="},
        {"{s}", "/installers/Setup.pkg"},
        {"{p}", "/prog/util/downloader/"},
        {"{port}", std::to_string(service().port())},
        {"{weak}", "W/" + etag_},
        {"{etag}", etag_},
        {"{other}", etag_.substr(0, etag_.size() - 1) + "-changed\""},
        {"{sha}", sha(installer_)}};
    for (const auto& [mark, value] : marks)
      for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
  }

  std::string etag_;
};

TEST_P(Wire, AnswersAsTheScenarioSays) {
  const auto& row = GetParam();
  writeWholeFile(path("secret.txt"), "secret");
  // A sparse file: 5 GiB of size, no disk blocks.
  writeWholeFile(path("installers/Vast.pkg"), "");
  QFile(path("installers/Vast.pkg")).resize(5LL << 30);
  etag_ = raw(request(filled("HEAD {s}"))).header("ETag").value_or("no tag");
  service().setScenario(parseScenarioText(row.scenario));
  service().resetCounters();

  std::vector<std::string> requests;
  std::string last;
  for (std::istringstream lines(row.requests); std::getline(lines, last);)
    requests.push_back(request(filled(last)));
  if (row.requests.find("\r\n") != std::string::npos) requests = {row.requests};
  WireAnswer answer;
  auto start = std::chrono::steady_clock::now();
  for (const auto& bytes : requests) {
    start = std::chrono::steady_clock::now();
    answer = raw(last = bytes, std::chrono::seconds(2));
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto name = row.header.substr(0, row.header.find(':'));
  EXPECT_EQ(answer.status, row.status) << answer.head;
  EXPECT_EQ(name + ": " + answer.header(name).value_or("-"), filled(row.header)) << answer.head;
  if (row.length != kAny) {
    EXPECT_EQ(static_cast<std::int64_t>(answer.body.size()), row.length);
  }
  if (last.rfind("HEAD", 0) != 0 && name != "Content-Length") {
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size())) << answer.head;
  }
  EXPECT_EQ(answer.body, row.body.empty() ? answer.body : filled(row.body));
  // Whatever part of the file a body holds, it is the right part.
  if (last.rfind("GET", 0) == 0 && last.find("Setup.pkg") != std::string::npos && answer.status / 100 == 2) {
    const auto range = answer.header("Content-Range").value_or("bytes 0-");
    EXPECT_EQ(installer_.compare(std::stoull(range.substr(6)), answer.body.size(), answer.body), 0);
  }
  const auto record = service().requests().back();
  EXPECT_EQ(record.fault.empty() && record.error.empty(), row.fault.empty()) << record.fault << record.error;
  EXPECT_NE((record.fault + record.error).find(row.fault), std::string::npos) << record.fault << record.error;
  EXPECT_GE(elapsed, std::chrono::milliseconds(row.atLeastMs));
  // A refusal is logged, is the only answer on its connection, and the service carries on.
  if (!record.error.empty()) {
    const auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().starts_with(std::to_string(row.status) + " ") &&
                lines.back().ends_with(record.error))
        << lines.back();
    EXPECT_EQ(answer.body.find("HTTP/1.1"), std::string::npos) << answer.body;
    EXPECT_EQ(raw(request("GET /installers/Setup.pkg | Range: bytes=0-9")).status, 206);
  }
}

const std::string kText = "Content-Type: text/plain; charset=utf-8";
const std::string kNoRange = "Range header is not a byte range set";

const WireCase kRows[] = {
    // Serving
    {"Head", "", "HEAD {s}", 200, "Accept-Ranges: bytes", 0},
    {"Whole", "", "GET {s}", 200, "Content-Range: -", 300000},
    {"From", "", "{r}100-", 206, "Content-Range: bytes 100-299999/300000", 299900},
    {"PastTheEnd", "", "{r}250000-999999999", 206, "Content-Range: bytes 250000-299999/300000", 50000},
    {"StartAtTheSize", "", "{r}300000-", 416, "Content-Range: bytes */300000", 0},
    {"IfRangeMatches", "", "{r}10-19 | If-Range: {etag}", 206, "Content-Range: bytes 10-19/300000", 10},
    {"IfRangeWeakFormOfTheTag", "", "{r}10-19 | If-Range: {weak}", 200, "Content-Range: -", 300000},
    {"RangesAreNeverGzipped", "gzip = on", "{r}0-999 | Accept-Encoding: gzip", 206, "Content-Encoding: -",
     1000},
    {"BeyondFourGiB", "", "GET /installers/Vast.pkg | Range: bytes=5368709000-", 206,
     "Content-Range: bytes 5368709000-5368709119/5368709120", 120},
    {"EscapingName", "", "GET /installers/..%2Fsecret.txt", 404, "Content-Range: -"},
    {"MethodNotAllowed", "", "PUT {s} | Content-Length: 0", 405, "Allow: GET, HEAD"},

    // Refusals, with their reasons
    {"Malformed", "", "\x01\x02garbage\r\n\r\nGET / HTTP/1.1\r\n\r\n", 400, "Connection: close", kAny,
     "malformed request"},
    {"Trace", "", "TRACE /", 400, kText, kAny, "method TRACE is not served"},
    {"LongTarget", "", "GET /" + std::string(9000, 'a'), 400, kText, kAny, "request target too long"},
    {"RangeBackwards", "", "{r}9-3", 400, kText, kAny, kNoRange},
    {"RangeBeyondNumbers", "", "{r}99999999999999999999999-", 400, kText, kAny, kNoRange},
    {"RangeSetWithABackwardsOne", "", "{r}0-1,2-3,9-5", 400, kText, kAny, kNoRange},
    {"FormBadEscape", "", "POST {p}get-link.jsp | SR=%G1", 400, kText, kAny, "bad percent escape"},
    {"FormWithoutEquals", "", "POST {p}get-link.jsp | SR", 400, kText, kAny, "not name=value"},
    {"FormOfAnotherType", "", "POST {p}get-link.jsp | Content-Type: application/json | {\"SR\":1}", 400,
     kText, kAny, "Content-Type"},

    // The POST endpoints
    {"Link", "link-installer = Other File.pkg", "POST {p}get-link.jsp", 200, kText, kAny, "",
     "https://127.0.0.1:{port}/installers/Other%20File.pkg\r\n"},
    {"LinkServerError", "link = error-000\nlink-status = 500", "POST {p}get-link.jsp", 500, kText, kAny, "",
     "ERROR: 000\r\n"},
    {"LinkNeedsUpdate", "link = error-001\nlink-scheme = http\nlink-crlf = off", "POST {p}get-link.jsp", 200,
     kText, kAny, "", "ERROR: 001\r\nhttp://127.0.0.1:{port}{s}"},
    {"LinkNeedsUpdateElsewhere", "link = error-001\nupdate-link = http://u.example/OV.dmg",
     "POST {p}get-link.jsp", 200, kText, kAny, "", "ERROR: 001\r\nhttp://u.example/OV.dmg\r\n"},
    {"LinkRaw", "link = raw\nlink-text = see http://a.example/x?u=http://b\\n", "POST {p}get-link.jsp", 200,
     kText, kAny, "", "see http://a.example/x?u=http://b\n"},
    {"Heartbeat", "heartbeat = 45\\r\\n\nheartbeat-status = 500", "POST {p}heartbeat.jsp", 500, kText, kAny,
     "", "45\r\n"},
    {"StatusReport", "update-info-status = 503\nupdate-status-status = 500\nupdate-size-status = 502",
     "POST {p}update-status.jsp", 500, kText, 2, "", "OK"},
    {"SizeReport", "update-info-status = 503\nupdate-status-status = 500\nupdate-size-status = 502",
     "POST {p}update-size-v2.jsp", 502, kText, 2, "", "OK"},
    {"Gzip", "gzip = on", "POST {p}heartbeat.jsp | Accept-Encoding: deflate, gzip", 200,
     "Content-Encoding: gzip"},
    {"GzipRefused", "gzip = on", "POST {p}heartbeat.jsp | Accept-Encoding: gzip;q=0", 200,
     "Content-Encoding: -"},
    {"AnswerDelay", "answer-delay-ms = 150", "POST {p}update-size-v2.jsp", 200, kText, 2, "", "", 150},
    {"SlowReport", "slow-reports = on\ngzip = on", "POST {p}update-info.jsp | Accept-Encoding: gzip", 200,
     "Content-Length: 600", kAny, "one byte a second"},

    // Faults
    {"FailStatusAndRetryAfter", "fail-at-byte = 0\nfail-status = 503\nretry-after = 7", "{r}0-9", 503,
     "Retry-After: 7", kAny, "503 for the range"},
    {"FailOnce", "fail-at-byte = 0\nfail-repeat = once", "{r}0-9\n{r}0-9", 206,
     "Content-Range: bytes 0-9/300000"},
    {"FailAtRequestCountsRangedGets", "fail-at-request = 2\nfail-status = 429",
     "GET {s}\nHEAD {s}\n{r}0-9\n{r}9-9", 429, "Content-Range: -", kAny, "429 for ranged request 2"},
    {"DropOnce", "drop-after-bytes = 0\ndrop-repeat = once", "GET {s}\nGET {s}", 200, "Content-Range: -",
     300000},
    {"ShortenBody", "shorten-body-by = 5", "{r}0-99", 206, "Content-Range: bytes 0-99/300000", 95,
     "body 5 bytes short"},
    {"IgnoreRange", "ignore-range = on", "{r}10-19", 200, "Content-Range: -", 300000, "Range ignored"},
    {"HeadLength", "head-status = 404\nhead-length = abc\nhead-size-delta = 1", "HEAD {s}", 404,
     "Content-Length: abc", 0, "HEAD Content-Length \"abc\""},
    {"NoEtag", "etag = off", "HEAD {s}", 200, "ETag: -", 0},
    {"EtagChanges", "etag-change-after = 1", "HEAD {s}\n{r}0-9 | If-Range: {etag}", 200, "Content-Range: -"},
    {"WeakEtag", "weak-etag = on", "HEAD {s}", 200, "ETag: {weak}", 0, "weak ETag"},
    {"WeakEtagFailsIfRange", "weak-etag = on", "{r}10-19 | If-Range: {weak}", 200, "Content-Range: -", 300000,
     "weak ETag fails If-Range"},
    {"RedirectToOtherHost", "redirect = other-host", "{r}0-9", 302,
     "Location: https://localhost:{port}/moved{s}", 0, "302 to https://localhost"},
    {"LegacyDigest", "digest = legacy", "HEAD {s}", 200, "Digest: SHA-256={sha}", 0, "legacy Digest"},
    {"RateLimit", "rate-limit = 100000", "{r}0-19999", 206, "Content-Range: bytes 0-19999/300000", 20000, "",
     "", 200},
    {"FirstByteDelay", "first-byte-delay-ms = 150", "{r}0-9", 206, "Content-Range: bytes 0-9/300000", 10, "",
     "", 150},
    {"Hold", "hold = on\nhold-after-bytes = 1000", "{r}0-99999", 206, "Content-Length: 100000", 1000},
    {"StallAfterTheHeaders", "stall-after-bytes = 0", "{r}0-99999", 206, "Content-Length: 100000", 0,
     "connection silent after 0 body bytes"},
    {"OtherVersionOnRanges", "other-version-on-ranges = on", "{r}10-19 | If-Range: {etag}", 206,
     "ETag: {other}", 10, "206 of another version"},
    {"OtherVersionNotOnHead", "other-version-on-ranges = on", "HEAD {s}", 200, "ETag: {etag}", 0},

    // Signed links: a new signature for every link query, good for the link's lifetime.
    {"SignedLink", "signed-links = on", "POST {p}get-link.jsp\nPOST {p}get-link.jsp", 200, kText, kAny, "",
     "https://127.0.0.1:{port}/installers/Setup.pkg?sig=2\r\n"},
    {"SignedLinkServes", "signed-links = on", "POST {p}get-link.jsp\nGET {s}?sig=1 | Range: bytes=0-9", 206,
     "Content-Range: bytes 0-9/300000", 10},
    {"UnsignedLinkRefused", "signed-links = on", "{r}0-9", 403, "Content-Range: -", kAny,
     "403 for an unsigned link"},
    {"ExpiredLinkRefused", "signed-links = on\nlink-lifetime-ms = 0", "POST {p}get-link.jsp\nHEAD {s}?sig=1",
     403, "Content-Range: -", kAny, "403 for an expired link"},
    // A key rotation after the first signed request: the link signed before it is refused, a later one
    // serves.
    {"LinkSignedBeforeARotationRefused", "signed-links = on\nlinks-expire-after = 1",
     "POST {p}get-link.jsp\nHEAD {s}?sig=1\nHEAD {s}?sig=1", 403, "Content-Range: -", kAny,
     "403 for an expired link"},
    {"LinkSignedAfterARotationServes", "signed-links = on\nlinks-expire-after = 1",
     "POST {p}get-link.jsp\nHEAD {s}?sig=1\nPOST {p}get-link.jsp\nHEAD {s}?sig=2\nHEAD {s}?sig=2", 200,
     "ETag: {etag}", 0},
    {"HoldListedRange", "hold = on\nhold-after-bytes = 1000\nhold-ranges = 7, 5", "{r}5-99999", 206,
     "Content-Length: 99995", 1000},
    {"HoldSparesOtherRanges", "hold = on\nhold-after-bytes = 1000\nhold-ranges = 7,5", "{r}0-99999", 206,
     "Content-Length: 100000", 100000},
};

INSTANTIATE_TEST_SUITE_P(Rows, Wire, ::testing::ValuesIn(kRows), ov::test::rowName);

}  // namespace
}  // namespace refservice::testing
