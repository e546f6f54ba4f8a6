#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace ov {

// The body of one download on its way to `destination`: a fresh temporary file
// beside it ("<destination>.XXXXXX.part"), renamed over the destination when
// the transfer completes. Errors come back as printable text. Not thread-safe:
// one transfer, one thread.
class HttpDownloadFile {
 public:
  // Called on any thread: the text is copied, sharing no buffer with the caller's.
  explicit HttpDownloadFile(const QString& destination);
  ~HttpDownloadFile();  // removes a temporary file that was not committed

  HttpDownloadFile(const HttpDownloadFile&) = delete;
  HttpDownloadFile& operator=(const HttpDownloadFile&) = delete;

  // Creates the destination's missing folders and the empty temporary file.
  bool open(std::string& error);
  // Appends all of `size` bytes.
  bool write(const char* data, std::size_t size, std::string& error);
  // Closes the temporary file and renames it over the destination, replacing
  // a previous file of that name.
  bool commit(std::string& error);
  // Closes and removes the temporary file; nothing is left behind.
  void discard();

  // A fresh copy each time, free to travel to another thread.
  QString destination() const { return QString::fromStdString(destination_); }
  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  std::string destination_;      // as the caller gave it, UTF-8
  std::string destinationPath_;  // in the file system's encoding
  std::string temporaryPath_;
  int fd_ = -1;
};

}  // namespace ov
