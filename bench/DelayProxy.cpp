// delay_proxy: a TCP relay on loopback that holds every byte for a fixed time
// in each direction, so a server on this machine looks a round trip away.
// bench/run.sh uses it for its "added round trip" setting because this
// machine's kernel has no netem queueing discipline (see the script's header).
//
//   delay_proxy --listen PORT --to PORT --rtt-ms MS [--window BYTES]
//
// Listens on 127.0.0.1:PORT and relays each connection to 127.0.0.1:--to.
// Bytes read from one side are written to the other half a round trip after
// they arrived; an end of stream travels the same way (as a half close). A
// new connection's first bytes toward the server also wait for the handshake
// round trip that the local accept skipped. At most --window bytes (default
// 4 MiB) wait in each direction, so a sender is held back instead of being
// buffered without bound. Not emulated: the long path's TCP slow start and
// its acknowledgement clock (the relay acknowledges at once on loopback).
// Prints "listening PORT" once ready; SIGINT or SIGTERM end it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int listenPort = 0;
  int targetPort = 0;
  Clock::duration oneWay{};
  std::size_t window = 4u << 20;
};

// Bytes on their way from one socket to another; an empty slice is the end of
// the stream.
struct Slice {
  Clock::time_point due;
  std::vector<char> bytes;
};

// One direction of a connection: a reader thread fills the queue, a writer
// thread empties it when each slice is due. Either side may end it early.
class Direction {
 public:
  Direction(int from, int to, Clock::time_point earliest, const Options& options)
      : from_(from), to_(to), earliest_(earliest), options_(options) {}

  void readLoop() {
    std::vector<char> buffer(256 * 1024);
    while (true) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return broken_ || queued_ < options_.window; });
        if (broken_) return;
      }
      const ssize_t n = ::read(from_, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      const auto now = Clock::now();
      std::lock_guard lock(mutex_);
      Slice slice{std::max(now, earliest_) + options_.oneWay, {}};
      if (n > 0) slice.bytes.assign(buffer.data(), buffer.data() + n);
      queued_ += slice.bytes.size();
      queue_.push_back(std::move(slice));
      changed_.notify_all();
      if (n <= 0) return;  // end of stream or a reset: pass on a half close
    }
  }

  void writeLoop() {
    while (true) {
      Slice slice;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return broken_ || !queue_.empty(); });
        if (broken_) return;
        slice = std::move(queue_.front());
        queue_.pop_front();
      }
      std::this_thread::sleep_until(slice.due);
      if (slice.bytes.empty()) {
        ::shutdown(to_, SHUT_WR);
        return;
      }
      if (!writeAll(slice.bytes)) {
        // The receiver is gone: stop reading from the sender too.
        ::shutdown(from_, SHUT_RD);
        std::lock_guard lock(mutex_);
        broken_ = true;
        changed_.notify_all();
        return;
      }
      std::lock_guard lock(mutex_);
      queued_ -= slice.bytes.size();
      changed_.notify_all();
    }
  }

 private:
  bool writeAll(const std::vector<char>& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(to_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  const int from_;
  const int to_;
  const Clock::time_point earliest_;
  const Options& options_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slice> queue_;
  std::size_t queued_ = 0;
  bool broken_ = false;
};

// Owns both sockets; the last of its four threads to finish closes them.
struct Connection {
  Connection(int client, int server, const Options& options)
      : client(client),
        server(server),
        // A real client could send its first bytes only after the SYN's round trip.
        up(client, server, Clock::now() + 2 * options.oneWay, options),
        down(server, client, Clock::now(), options) {}
  ~Connection() {
    ::close(client);
    ::close(server);
  }
  const int client;
  const int server;
  Direction up;
  Direction down;
};

void noDelay(int fd) {
  // Small TLS records must not wait for Nagle's algorithm on top of the delay.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int connectToTarget(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in address = loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  noDelay(fd);
  return fd;
}

int listenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = loopback(port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 128) != 0) {
    std::perror("delay_proxy: listen");
    std::exit(1);
  }
  return fd;
}

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: delay_proxy --listen PORT --to PORT --rtt-ms MS [--window BYTES]\n");
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  int rttMs = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const long value = std::strtol(argv[i + 1], nullptr, 10);
    if (flag == "--listen")
      options.listenPort = static_cast<int>(value);
    else if (flag == "--to")
      options.targetPort = static_cast<int>(value);
    else if (flag == "--rtt-ms")
      rttMs = static_cast<int>(value);
    else if (flag == "--window")
      options.window = static_cast<std::size_t>(value);
    else
      usage();
  }
  if (argc % 2 == 0 || options.listenPort <= 0 || options.targetPort <= 0 || rttMs < 0 || options.window == 0)
    usage();
  options.oneWay = std::chrono::microseconds(rttMs * 500);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  const int listener = listenOn(options.listenPort);
  std::printf("listening %d\n", options.listenPort);
  std::fflush(stdout);
  while (true) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      std::perror("delay_proxy: accept");
      return 1;
    }
    noDelay(client);
    const int server = connectToTarget(options.targetPort);
    if (server < 0) {
      ::close(client);
      continue;
    }
    auto connection = std::make_shared<Connection>(client, server, options);
    std::thread([connection] { connection->up.readLoop(); }).detach();
    std::thread([connection] { connection->up.writeLoop(); }).detach();
    std::thread([connection] { connection->down.readLoop(); }).detach();
    std::thread([connection] { connection->down.writeLoop(); }).detach();
  }
}
