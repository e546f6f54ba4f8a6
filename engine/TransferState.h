#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace ov {

// What a download keeps beside its part files so that a later attempt (the
// Retry after a failed download, or the next launch after a crash) fetches only
// what is missing: which resource the parts belong to, how they were cut, how
// many of them are already in the installer, and which of those still waiting
// on disk were flushed before they were counted.
struct TransferState {
  // The layout this program writes and reads; a state of another one (or of
  // none: those written before there was a version) is no state of ours.
  static constexpr std::int64_t kVersion = 2;

  QString link;  // the download link the parts came from
  std::int64_t size = 0;
  QString etag;  // a strong entity tag
  std::int64_t chunkLength = 0;
  std::int64_t appendedParts = 0;
  // Parts beyond the appended ones that were flushed to disk before this
  // state was written; no other part on disk is trusted.
  std::vector<std::int64_t> flushedParts;

  // Nothing when the file is missing, unreadable, not a regular file of at
  // most 64 KiB (a link is not followed), not a whole state, or of another
  // version.
  static std::optional<TransferState> load(const QString& path);
  // Durably, readable by the user only: a crash leaves the old state or the new one.
  bool save(const QString& path, QString& error) const;

  // Whether these parts are the bytes `link` names now, cut the same way:
  // the same resource (sameResource()), the same size, the same strong entity
  // tag and the same chunk length.
  bool describes(const QString& link, std::int64_t size, const QString& etag, std::int64_t chunkLength) const;
};

// Whether two links name the same resource: the same scheme, host, port and
// path. Only the query may differ, as a signed link's does on every request.
bool sameResource(const QString& link, const QString& other);

// A strong entity tag (RFC 9110, 8.8.3): quoted, and not marked weak ("W/").
// Only a strong tag says that two answers carry the same bytes.
bool isStrongEtag(const QString& etag);

}  // namespace ov
