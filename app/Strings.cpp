#include "app/Strings.h"

#include <QtGlobal>

#include "BuildConfig.h"
#include "app/StringFormat.h"
#include "platform/Toolkit.h"

namespace ov {

// The context named in QT_TRANSLATE_NOOP must be the one Toolkit looks
// translations up in (kUiStringContext); lupdate reads these lines, and the
// "//:" lines become the translators' comments.

//: IDS_CAPTION_BAR_TITLE
const UiString IDS_CAPTION_BAR_TITLE{"IDS_CAPTION_BAR_TITLE",
                                     QT_TRANSLATE_NOOP("OVDownloader", "Orvalen %@ Downloader")};
//: IIDS_PREPARE_STATE
const UiString IIDS_PREPARE_STATE{
    "IIDS_PREPARE_STATE", QT_TRANSLATE_NOOP("OVDownloader", "Please wait for preparing your downloading...")};
//: IDS_COUNT_AUTO_DOWNLOAD
const UiString IDS_COUNT_AUTO_DOWNLOAD{
    "IDS_COUNT_AUTO_DOWNLOAD",
    QT_TRANSLATE_NOOP("OVDownloader", "Your download will start in %d second(s).")};
//: IDS_DOWNLOAD_STATE
const UiString IDS_DOWNLOAD_STATE{"IDS_DOWNLOAD_STATE",
                                  QT_TRANSLATE_NOOP("OVDownloader", "Your program is downloading now...")};
//: IDS_SIZE_PROGRESS
const UiString IDS_SIZE_PROGRESS{"IDS_SIZE_PROGRESS",
                                 QT_TRANSLATE_NOOP("OVDownloader", "%.02f MB of %.02f MB")};
//: IDS_COMPLETE_STATE
const UiString IDS_COMPLETE_STATE{"IDS_COMPLETE_STATE",
                                  QT_TRANSLATE_NOOP("OVDownloader", "Download process is complete...")};
//: IDS_LEAVEAPP
const UiString IDS_LEAVEAPP{
    "IDS_LEAVEAPP",
    QT_TRANSLATE_NOOP("OVDownloader", "Are you sure you want to cancel the download process?")};
//: IDS_INTERNET_CONNECTION
const UiString IDS_INTERNET_CONNECTION{
    "IDS_INTERNET_CONNECTION",
    QT_TRANSLATE_NOOP("OVDownloader",
                      "Orvalen Downloader could not complete the download process. Check your Internet "
                      "connection and firewall settings, and then try again.")};
//: IDS_LOW_DISCSPACE
const UiString IDS_LOW_DISCSPACE{
    "IDS_LOW_DISCSPACE",
    QT_TRANSLATE_NOOP("OVDownloader",
                      "Low disk space. Free up some disk space on your hard drive and then try again.")};
// The maker's web address stands between the two pieces; it is a build setting.
const UiString IDS_SERVER_ERROR{
    "IDS_SERVER_ERROR",
    //: IDS_SERVER_ERROR (first piece; the maker's web address follows)
    QT_TRANSLATE_NOOP("OVDownloader",
                      "The %@ download is currently unavailable. Please try again later. If this issue "
                      "persists, go to "),
    OV_MAKER_WEB_ADDRESS,
    //: IDS_SERVER_ERROR (second piece; follows the maker's web address)
    QT_TRANSLATE_NOOP("OVDownloader", " and try downloading it again.")};
//: IDS_NEED_UPDATE
const UiString IDS_NEED_UPDATE{
    "IDS_NEED_UPDATE",
    QT_TRANSLATE_NOOP("OVDownloader",
                      "There is a new version of the Downloader available. You must complete the update "
                      "process to continue the download process. Select [Update] to get the new version "
                      "now, or [Close] to exit the Downloader.")};
//: IDS_DOWNLOAD_ERROR
const UiString IDS_DOWNLOAD_ERROR{
    "IDS_DOWNLOAD_ERROR",
    QT_TRANSLATE_NOOP("OVDownloader",
                      "An error occurred during the download process and could not successfully complete. "
                      "Do you want to try restarting the download process?")};
//: IDS_OS_ERROR
const UiString IDS_OS_ERROR{
    "IDS_OS_ERROR",
    QT_TRANSLATE_NOOP(
        "OVDownloader",
        "%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.")};
//: IDS_BTNCAPTION_OK
const UiString IDS_BTNCAPTION_OK{"IDS_BTNCAPTION_OK", QT_TRANSLATE_NOOP("OVDownloader", "OK")};
//: IDS_BTNCAPTION_CANCEL
const UiString IDS_BTNCAPTION_CANCEL{"IDS_BTNCAPTION_CANCEL", QT_TRANSLATE_NOOP("OVDownloader", "Cancel")};
//: IDS_BTNCAPTION_PAUSE
const UiString IDS_BTNCAPTION_PAUSE{"IDS_BTNCAPTION_PAUSE", QT_TRANSLATE_NOOP("OVDownloader", "Pause")};
//: IDS_BTNCAPTION_RESUME
const UiString IDS_BTNCAPTION_RESUME{"IDS_BTNCAPTION_RESUME", QT_TRANSLATE_NOOP("OVDownloader", "Resume")};
//: IDS_BTNCAPTION_RETRY
const UiString IDS_BTNCAPTION_RETRY{"IDS_BTNCAPTION_RETRY", QT_TRANSLATE_NOOP("OVDownloader", "Retry")};
//: IDS_BTNCAPTION_UPDATE
const UiString IDS_BTNCAPTION_UPDATE{"IDS_BTNCAPTION_UPDATE", QT_TRANSLATE_NOOP("OVDownloader", "Update")};
//: IDS_BTNCAPTION_CLOSE
const UiString IDS_BTNCAPTION_CLOSE{"IDS_BTNCAPTION_CLOSE", QT_TRANSLATE_NOOP("OVDownloader", "Close")};
//: IDS_BTNCAPTION_YES
const UiString IDS_BTNCAPTION_YES{"IDS_BTNCAPTION_YES", QT_TRANSLATE_NOOP("OVDownloader", "Yes")};
//: IDS_BTNCAPTION_NO
const UiString IDS_BTNCAPTION_NO{"IDS_BTNCAPTION_NO", QT_TRANSLATE_NOOP("OVDownloader", "No")};

const UiString* const* allUiStrings() {
  static const UiString* const entries[kUiStringCount] = {
      &IDS_CAPTION_BAR_TITLE, &IIDS_PREPARE_STATE,      &IDS_COUNT_AUTO_DOWNLOAD,
      &IDS_DOWNLOAD_STATE,    &IDS_SIZE_PROGRESS,       &IDS_COMPLETE_STATE,
      &IDS_LEAVEAPP,          &IDS_INTERNET_CONNECTION, &IDS_LOW_DISCSPACE,
      &IDS_SERVER_ERROR,      &IDS_NEED_UPDATE,         &IDS_DOWNLOAD_ERROR,
      &IDS_OS_ERROR,          &IDS_BTNCAPTION_OK,       &IDS_BTNCAPTION_CANCEL,
      &IDS_BTNCAPTION_PAUSE,  &IDS_BTNCAPTION_RESUME,   &IDS_BTNCAPTION_RETRY,
      &IDS_BTNCAPTION_UPDATE, &IDS_BTNCAPTION_CLOSE,    &IDS_BTNCAPTION_YES,
      &IDS_BTNCAPTION_NO,
  };
  return entries;
}

const QString& UiString::text() const {
  std::call_once(once_, [this] { text_ = lookup(); });
  return text_;
}

QString UiString::lookup() const {
  QString result = toolkit().localizedString(english_, key_);
  if (between_ != nullptr) result += escapeForFormat(QString::fromUtf8(between_));
  if (tail_ != nullptr) result += toolkit().localizedString(tail_, key_);
  return result;
}

QString UiString::untranslated() const {
  QString result = QString::fromUtf8(english_);
  if (between_ != nullptr) result += escapeForFormat(QString::fromUtf8(between_));
  if (tail_ != nullptr) result += QString::fromUtf8(tail_);
  return result;
}

}  // namespace ov
