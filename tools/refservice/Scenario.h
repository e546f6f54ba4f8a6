#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace refservice {

// What the link query ("get-link.jsp") answers.
enum class LinkAnswer {
  Installer,    // the link of a served installer
  ServerError,  // "ERROR: 000"
  NeedUpdate,   // "ERROR: 001", CR LF, then the newer agent's link
  RawText,      // Scenario::linkText exactly as it stands
};

// Whether a one-shot fault fires on its first match only or on every match.
enum class Repeat { Once, Always };

// Where installer requests are sent instead of being answered.
enum class Redirect {
  None,
  ToHttp,       // the same link with "http:", which a client must not follow
  ToOtherHost,  // "https://localhost:PORT/moved/installers/NAME", served like the original
};

// Which checksum header installer answers carry.
enum class DigestHeader {
  None,
  Right,        // Repr-Digest (RFC 9530) with the file's SHA-256
  Wrong,        // Repr-Digest with the SHA-256 of other bytes
  LegacyRight,  // Digest (RFC 3230) with the file's SHA-256
};

// Faults and pacing of the installer answers (HEAD and GET under "/installers/").
// Request counts run over all installers and start at 1; they survive
// setScenario() and are cleared by ReferenceService::resetCounters().
struct InstallerFaults {
  // Answer failStatus to a ranged GET whose first byte is this offset.
  std::optional<std::int64_t> failAtByte;
  Repeat failRepeat = Repeat::Always;
  // Answer failStatus to the Nth GET that carries a Range header.
  std::optional<std::int64_t> failAtRequest;
  int failStatus = 404;
  std::optional<int> retryAfter;  // seconds, sent as Retry-After with those failures
  // Close the connection after this many body bytes of a GET answer
  // (an answer no longer than this is sent whole).
  std::optional<std::int64_t> dropAfterBytes;
  Repeat dropRepeat = Repeat::Always;
  // After this many body bytes of a GET answer the connection stays open and
  // silent until the service stops (an answer no longer than this is sent whole).
  std::optional<std::int64_t> stallAfterBytes;
  Repeat stallRepeat = Repeat::Always;
  // Answer every GET with 200 and the whole file, whatever Range says.
  bool ignoreRange = false;
  // HEAD answers: status code, and the Content-Length text in place of the real
  // size, or else the real size plus a delta. GET answers keep the real size.
  int headStatus = 200;
  std::optional<std::string> headContentLength;
  std::int64_t headSizeDelta = 0;
  // Every 206 body (and its Content-Length) is this many bytes shorter than its Content-Range says.
  std::optional<std::int64_t> shortenBodyBy;
  // Send the ETag header at all; after this many installer requests the tag changes.
  bool sendEtag = true;
  std::optional<std::int64_t> etagChangesAfter;
  // Send the tag as weak ("W/"), which never satisfies If-Range.
  bool weakEtag = false;
  // 206 answers carry the ETag and Last-Modified of another version of the
  // file and honour no If-Range, as a cache that holds an older copy of the
  // same size would.
  bool otherVersionOnRanges = false;
  Redirect redirect = Redirect::None;
  DigestHeader digest = DigestHeader::None;
  // Bytes per second for each GET answer (one answer at a time per connection); 0: unlimited.
  std::int64_t rateLimit = 0;
  // Wait before a GET is answered (status line and headers included).
  std::chrono::milliseconds firstByteDelay{0};
  // While set, GET bodies stop after holdAfterBytes bytes until the hold is released: every
  // body, or with holdRanges only those of ranges that start at one of these bytes.
  bool hold = false;
  std::int64_t holdAfterBytes = 0;
  std::set<std::int64_t> holdRanges;
  // A held body, once released, drops its connection instead of going on.
  bool dropOnRelease = false;

  // Whether the hold applies to a body whose bytes start at `offset` of the file.
  bool holds(std::int64_t offset) const {
    return hold && (holdRanges.empty() || holdRanges.contains(offset));
  }

  bool operator==(const InstallerFaults&) const = default;
};

// Everything the service answers. It can be replaced while the service runs;
// answers already under way pick up changes to the pacing (rate, hold) at once.
struct Scenario {
  LinkAnswer link = LinkAnswer::Installer;
  std::string linkInstaller;    // installer the link names; empty: the first one served
  bool linkHttpScheme = false;  // write the link with "http:" (clients rewrite it to "https:")
  bool linkCrLf = true;         // end the link answer with CR LF
  std::string updateLink;       // NeedUpdate's link; empty: the installer link
  std::string linkText;         // RawText's answer
  // The installer link carries a signature ("?sig=N", a new N for every link
  // query); installer requests without a signature of this service, or with
  // one older than linkLifetime (as the scenario says now), are answered 403.
  bool signedLinks = false;
  std::chrono::milliseconds linkLifetime = std::chrono::hours(1);
  // A key rotation after the Nth installer request that carries a signature:
  // signatures handed out before it are refused from the next such request
  // on; those handed out after it stay good (for their lifetime).
  std::optional<std::int64_t> linksExpireAfter;
  int linkStatus = 200;
  std::string heartbeatText = "30";
  int heartbeatStatus = 200;
  int updateInfoStatus = 200;
  int updateStatusStatus = 200;
  int updateSizeStatus = 200;
  // The three reports send their headers at once, then 600 body bytes at one a second.
  bool slowReports = false;
  bool gzip = false;                         // compress POST answers when the request accepts gzip
  std::chrono::milliseconds answerDelay{0};  // wait before each POST is answered
  InstallerFaults installer;

  bool operator==(const Scenario&) const = default;
};

}  // namespace refservice
