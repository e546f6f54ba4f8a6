#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace ov {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread. The handler
// itself only writes the signal's number to a socket pair (the one thing a
// signal handler may safely do); a notifier on the other end emits
// received() from the event loop, modal loops included.
//
// One instance at a time; the destructor restores the previous handlers.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

  // Whether the handlers are in place (the socket pair could be made).
  bool isActive() const { return notifier_ != nullptr; }

  // Whether a signal has arrived, set by the handler itself: a main thread
  // that waits for something else (a report) checks it to stop waiting.
  static bool requested();

 signals:
  void received(int signalNumber);

 private:
  void drain();

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ov
