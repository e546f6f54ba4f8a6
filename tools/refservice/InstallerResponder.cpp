#include "tools/refservice/InstallerResponder.h"

#include "tools/refservice/ByteRange.h"

namespace refservice {
namespace {

constexpr const char* kInstallerType = "application/octet-stream";

bool isWeak(const std::string& etag) {
  return etag.rfind("W/", 0) == 0;
}

// How far apart the modification times of two versions of a file are.
constexpr std::int64_t kVersionAge = 3600;

// What names one version of the installer in answers.
struct Version {
  std::string etag;
  std::int64_t modified = 0;  // Last-Modified, seconds since 1970
};

// The installer as this request sees it: the scenario may change it after N
// requests (a new tag and modification time), or make its tag weak.
Version currentVersion(const OpenInstaller& installer, const InstallerFaults& faults, std::int64_t number) {
  const bool changed = faults.etagChangesAfter && number > *faults.etagChangesAfter;
  const auto etag = changed ? changedEtag(installer.etag()) : installer.etag();
  return {faults.weakEtag ? "W/" + etag : etag, installer.modified() + (changed ? kVersionAge : 0)};
}

Version otherVersion(const Version& version) {
  return {changedEtag(version.etag), version.modified + kVersionAge};
}

void setDigestHeader(Exchange& exchange, const OpenInstaller& installer, DigestHeader digest) {
  if (digest == DigestHeader::None) return;
  const auto digests = exchange.context().digests.of(installer);
  if (digest == DigestHeader::LegacyRight) {
    exchange.setHeader("Digest", "SHA-256=" + digests.right);
    return exchange.noteFault("legacy Digest header");
  }
  // RFC 9530: the value is a structured-field dictionary, the digest a byte sequence between colons.
  exchange.setHeader("Repr-Digest",
                     "sha-256=:" + (digest == DigestHeader::Right ? digests.right : digests.wrong) + ":");
  exchange.noteFault(digest == DigestHeader::Right ? "Repr-Digest" : "Repr-Digest of other bytes");
}

void setEntityHeaders(Exchange& exchange, const OpenInstaller& installer, const InstallerFaults& faults,
                      const Version& version) {
  exchange.setHeader("Accept-Ranges", "bytes");
  if (faults.sendEtag) exchange.setHeader("ETag", version.etag);
  if (faults.sendEtag && faults.weakEtag) exchange.noteFault("weak ETag");
  exchange.setHeader("Last-Modified", httpDate(version.modified));
  setDigestHeader(exchange, installer, faults.digest);
}

void answerHead(Exchange& exchange, const OpenInstaller& installer, const InstallerFaults& faults,
                const Version& version) {
  setEntityHeaders(exchange, installer, faults, version);
  exchange.setHeader("Content-Type", kInstallerType);
  auto length = std::to_string(installer.size());
  if (faults.headContentLength) {
    length = *faults.headContentLength;
    exchange.noteFault("HEAD Content-Length \"" + length + "\"");
  } else if (faults.headSizeDelta != 0) {
    length = std::to_string(installer.size() + faults.headSizeDelta);
    exchange.noteFault("HEAD Content-Length off by " + std::to_string(faults.headSizeDelta));
  }
  exchange.sendHeadersOnly(faults.headStatus, length);
}

void answerFailure(Exchange& exchange, const InstallerFaults& faults, const std::string& what) {
  const auto note = std::to_string(faults.failStatus) + " for " + what;
  exchange.noteFault(note);
  if (faults.retryAfter) exchange.setHeader("Retry-After", std::to_string(*faults.retryAfter));
  exchange.sendText(faults.failStatus, note + "\n");
}

void answerRedirect(Exchange& exchange, const std::string& name, Redirect redirect) {
  const auto& context = exchange.context();
  const auto location =
      redirect == Redirect::ToHttp ? context.installerLink(name, true) : context.otherHostLink(name);
  exchange.noteFault("302 to " + location);
  exchange.setHeader("Location", location);
  exchange.sendText(302, {});
}

// The range a GET is answered with; nothing means the whole file.
struct RangeChoice {
  bool malformed = false;
  bool unsatisfiable = false;
  std::optional<ResolvedRange> range;
  std::string note;
};

RangeChoice chooseRange(const httplib::Request& request, std::int64_t size, const InstallerFaults& faults,
                        const std::string& etag) {
  RangeChoice choice;
  const auto specs = parseRangeHeader(request.get_header_value("Range"));
  const auto ifRange = request.get_header_value("If-Range");
  if (!specs) {
    choice.malformed = true;
  } else if (faults.ignoreRange) {
    choice.note = "Range ignored";
  } else if (request.has_header("If-Range") && !faults.otherVersionOnRanges &&
             (ifRange != etag || isWeak(etag))) {
    // RFC 9110, 13.1.5: If-Range matches by the strong comparison only, which a weak tag always
    // fails; a validator that does not match asks for the whole, current representation.
    if (ifRange == etag) choice.note = "weak ETag fails If-Range";
  } else if (specs->size() == 1) {
    choice.range = resolveRange(specs->front(), size);
    choice.unsatisfiable = !choice.range;
  }
  return choice;
}

void answerGet(Exchange& exchange, std::unique_ptr<OpenInstaller> installer, const InstallerFaults& faults,
               Version version) {
  auto& state = exchange.context().state;
  const auto& request = exchange.request();
  const auto size = installer->size();
  RangeChoice choice;
  if (request.has_header("Range")) {
    choice = chooseRange(request, size, faults, version.etag);
    if (choice.malformed) {
      // The same answer as for a Range header the HTTP layer itself cannot parse.
      exchange.setHeader("Connection", "close");
      exchange.closeAfterAnswer();
      return exchange.reject(400, "Range header is not a byte range set");
    }
    const auto number = state.countRangedRequest();
    if (faults.failAtRequest && number == *faults.failAtRequest)
      return answerFailure(exchange, faults, "ranged request " + std::to_string(number));
    if (choice.range && faults.failAtByte && choice.range->first == *faults.failAtByte &&
        state.fireFailAtByte(faults.failRepeat))
      return answerFailure(exchange, faults,
                           "the range starting at byte " + std::to_string(choice.range->first));
  }
  if (choice.unsatisfiable) {
    exchange.setHeader("Content-Range", "bytes */" + std::to_string(size));
    return exchange.sendText(416, {});
  }
  if (!choice.note.empty()) exchange.noteFault(choice.note);
  if (faults.firstByteDelay.count() > 0 && !state.sleepFor(faults.firstByteDelay))
    return exchange.reject(503, "service stopping");

  if (choice.range && faults.otherVersionOnRanges) {
    version = otherVersion(version);
    exchange.noteFault("206 of another version");
  }
  setEntityHeaders(exchange, *installer, faults, version);
  BodyStream::Source source;
  source.offset = choice.range ? choice.range->first : 0;
  source.length = choice.range ? choice.range->length() : size;
  if (choice.range && faults.shortenBodyBy) {
    source.length = std::max<std::int64_t>(0, source.length - *faults.shortenBodyBy);
    exchange.noteFault("body " + std::to_string(*faults.shortenBodyBy) + " bytes short of its Content-Range");
  }
  source.file = std::move(installer);
  BodyStream::Pacing pacing{.paced = true};
  if (faults.dropAfterBytes && source.length > *faults.dropAfterBytes && state.fireDrop(faults.dropRepeat))
    pacing.dropAfter = faults.dropAfterBytes;
  if (faults.stallAfterBytes && source.length > *faults.stallAfterBytes &&
      state.fireStall(faults.stallRepeat))
    pacing.stallAfter = faults.stallAfterBytes;
  if (choice.range) exchange.setHeader("Content-Range", contentRange(*choice.range, size));
  exchange.sendStream(choice.range ? 206 : 200, kInstallerType, std::move(source), pacing);
}

}  // namespace

// Whether the link carries a signature that is still good; answers 403 when not.
bool signatureAccepted(Exchange& exchange, const std::string& name) {
  static constexpr const char* refusals[] = {"", "an unsigned link", "a link this service never signed",
                                             "an expired link"};
  const auto check = exchange.context().state.checkSignature(name, exchange.request().get_param_value("sig"));
  if (check == ScenarioState::Signature::Valid) return true;
  const auto note = std::string("403 for ") + refusals[static_cast<int>(check)];
  exchange.noteFault(note);
  exchange.sendText(403, note + "\n");
  return false;
}

void answerInstaller(Exchange& exchange, const std::string& name, bool moved) {
  auto installer = exchange.context().catalog.open(name);
  if (!installer) return exchange.sendText(404, "no installer named \"" + name + "\"\n");
  auto& state = exchange.context().state;
  const auto faults = state.faults();
  // A redirect's target carries no signature: the request that led there was checked.
  if (!moved && state.scenario().signedLinks && !signatureAccepted(exchange, name)) return;
  // Redirects come before the counts, so the faults count the requests that reach the file.
  if (!moved && faults.redirect != Redirect::None) return answerRedirect(exchange, name, faults.redirect);
  const auto version = currentVersion(*installer, faults, state.countInstallerRequest());
  if (exchange.request().method == "HEAD") return answerHead(exchange, *installer, faults, version);
  answerGet(exchange, std::move(installer), faults, version);
}

}  // namespace refservice
