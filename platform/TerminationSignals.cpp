#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace ov {

namespace {

constexpr std::array<int, 2> kSignals{SIGTERM, SIGINT};

// [0] is written by the handler, [1] read by the notifier.
int pipeEnds[2] = {-1, -1};
struct sigaction previous[kSignals.size()];
// Lock-free, so the handler may set it.
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onSignal(int number) {
  const int savedErrno = errno;
  signalled.store(true);
  const unsigned char byte = static_cast<unsigned char>(number);
  // Non-blocking: with the pipe full, the signals already waiting suffice.
  [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0) return;
  ::fcntl(pipeEnds[0], F_SETFL, ::fcntl(pipeEnds[0], F_GETFL) | O_NONBLOCK);
  ::fcntl(pipeEnds[1], F_SETFL, ::fcntl(pipeEnds[1], F_GETFL) | O_NONBLOCK);

  notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[1], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);

  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &previous[i]);
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  notifier_.reset();
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

bool TerminationSignals::requested() {
  return signalled.load();
}

void TerminationSignals::drain() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t count = ::read(pipeEnds[1], bytes, sizeof bytes);
    if (count <= 0) break;
    for (ssize_t i = 0; i < count; ++i) emit received(bytes[i]);
  }
}

}  // namespace ov
