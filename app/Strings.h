#pragma once

#include <QString>
#include <mutex>

namespace ov {

// The table of texts the user reads. Each entry is looked up by its English
// text, which is also what shows when there is no translation; the IDS_ name
// reaches translators only as a comment. Several entries are printf-style
// templates, filled with formatString (app/StringFormat.h).
class UiString {
 public:
  // `key`: the IDS_ name. `english`: the lookup key and the untranslated text.
  // `between` and `tail` (IDS_SERVER_ERROR only): a fixed, untranslated text
  // and a second translated piece that follow `english`.
  UiString(const char* key, const char* english, const char* between = nullptr, const char* tail = nullptr)
      : key_(key), english_(english), between_(between), tail_(tail) {}

  UiString(const UiString&) = delete;
  UiString& operator=(const UiString&) = delete;

  const char* key() const { return key_; }
  const char* english() const { return english_; }

  // The entry's text, resolved on the first call (safely from any thread) and
  // never changed afterwards.
  const QString& text() const;
  operator const QString&() const { return text(); }

  // The lookup itself, uncached: the translation the toolkit finds for the
  // English text, or that text. A fixed `between` text is spliced in with its
  // "%" signs doubled, so that it can never act as a conversion.
  QString lookup() const;

  // The English text as the table states it, without any lookup.
  QString untranslated() const;

 private:
  const char* key_;
  const char* english_;
  const char* between_;
  const char* tail_;
  mutable std::once_flag once_;
  mutable QString text_;
};

// All entries, in the order the program declares them.
extern const UiString IDS_CAPTION_BAR_TITLE;    // "Orvalen %@ Downloader": the display product name
extern const UiString IIDS_PREPARE_STATE;       // two I's, as the table has always spelled it
extern const UiString IDS_COUNT_AUTO_DOWNLOAD;  // %d: seconds left in the countdown
extern const UiString IDS_DOWNLOAD_STATE;
extern const UiString IDS_SIZE_PROGRESS;  // %.02f twice: megabytes received, total megabytes
extern const UiString IDS_COMPLETE_STATE;
extern const UiString IDS_LEAVEAPP;
extern const UiString IDS_INTERNET_CONNECTION;
extern const UiString IDS_LOW_DISCSPACE;
extern const UiString IDS_SERVER_ERROR;  // %@: the display product name; the maker's web address inside
extern const UiString IDS_NEED_UPDATE;
extern const UiString IDS_DOWNLOAD_ERROR;
extern const UiString IDS_OS_ERROR;  // %@: the display product name
extern const UiString IDS_BTNCAPTION_OK;
extern const UiString IDS_BTNCAPTION_CANCEL;
extern const UiString IDS_BTNCAPTION_PAUSE;
extern const UiString IDS_BTNCAPTION_RESUME;
extern const UiString IDS_BTNCAPTION_RETRY;
extern const UiString IDS_BTNCAPTION_UPDATE;
extern const UiString IDS_BTNCAPTION_CLOSE;
extern const UiString IDS_BTNCAPTION_YES;
extern const UiString IDS_BTNCAPTION_NO;

// Every entry above, in declaration order (for translators' tools and tests).
inline constexpr int kUiStringCount = 22;
const UiString* const* allUiStrings();

// The translation context of the table.
inline constexpr const char* kUiStringContext = "OVDownloader";

}  // namespace ov
