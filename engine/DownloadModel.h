#pragma once

#include <QString>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace ov {

// The installer is fetched in byte ranges of this length (the last one holds
// the rest); each lands in a part file of its own.
inline constexpr std::int64_t kChunkLength = 5'242'880;

// One byte-range chunk of the installer.
struct DownloadTask {
  std::int64_t chuckStart = 0;  // first byte, inclusive
  std::int64_t chunkEnd = 0;    // last byte, inclusive
  QString cloudPath;            // the download link
  QUrl localPath;               // the save location of the finished installer
  std::int64_t partIndex = 0;   // chunk number from 0, in file order

  std::int64_t length() const { return chunkEnd - chuckStart + 1; }
  bool operator==(const DownloadTask&) const = default;
};

// Failure kinds reported to the window.
enum class ERROR_Code : int {
  E_UNCLEAR = 0,
  E_NO_CONNECTION = 1,
  E_SERVER_ERROR = 2,
  E_NEED_UPDATE = 3,
  E_NO_MD5 = 4,
  E_NO_PROMOTE = 5,
  E_DOWNLOAD_FAILED = 6,
  E_LOW_DISK_SPACE = 7,
  E_SIGN_CHECK_FAILED = 8,
  E_SIZE_CHECK_FAILED = 9,
};
std::optional<ERROR_Code> ERROR_CodeFromRaw(int raw);

// Why the download-link query gave no link.
enum class ERR_ID_Query_Download_URL : int {
  EQDU_SERVER_ERROR = 0,
  EQDU_NEED_UPDATE = 1,
};
std::optional<ERR_ID_Query_Download_URL> ERR_ID_Query_Download_URLFromRaw(int raw);

// The window's side of the engine. The engine calls the first three on the
// main thread only, and holds its delegate weakly.
class DownloadProxy {
 public:
  virtual ~DownloadProxy() = default;
  virtual void onDownloadProgress(double dProgress) = 0;
  virtual void onFileCompleteDownload() = 0;
  virtual void onDownloadFailed(ERROR_Code code) = 0;
  virtual bool checkRetryDownload() = 0;
};

// The manager's weak hold on its window: set by preparation on a background
// thread, read on the main thread. A window that has gone away reads as empty.
class WeakDelegate {
 public:
  void set(const std::shared_ptr<DownloadProxy>& delegate) {
    std::lock_guard lk(mutex_);
    delegate_ = delegate;
  }
  std::shared_ptr<DownloadProxy> lock() const {
    std::lock_guard lk(mutex_);
    return delegate_.lock();
  }

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<DownloadProxy> delegate_;
};

// Notification names, posted without object or user information.
inline const QString ReadyToDownload = QStringLiteral("ReadyToDownload");
inline const QString QuitOVDownloader = QStringLiteral("QuitOVDownloader");

}  // namespace ov
