#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace ov {

// What a download keeps beside its part files so that a later attempt (the
// Retry after a failed download, or the next launch after a crash) fetches only
// what is missing: which resource the parts belong to and how many of them
// are already in the installer.
struct TransferState {
  QString link;  // the download link the parts came from
  std::int64_t size = 0;
  QString etag;  // a strong entity tag
  std::int64_t appendedParts = 0;

  // Nothing when the file is missing, unreadable, not a regular file of at
  // most 64 KiB (a link is not followed) or not a whole state.
  static std::optional<TransferState> load(const QString& path);
  // Durably, readable by the user only: a crash leaves the old state or the new one.
  bool save(const QString& path, QString& error) const;

  // Whether these parts are the bytes `link` names now: the same host, port
  // and path (a signed link's query changes on every request), the same size
  // and the same strong entity tag.
  bool describes(const QString& link, std::int64_t size, const QString& etag) const;
};

// A strong entity tag (RFC 9110, 8.8.3): quoted, and not marked weak ("W/").
// Only a strong tag says that two answers carry the same bytes.
bool isStrongEtag(const QString& etag);

}  // namespace ov
