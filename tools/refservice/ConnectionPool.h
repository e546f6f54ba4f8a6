#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace refservice {

// The server's worker threads: each task the HTTP layer queues is one
// connection, served start to end on one thread. Beside running tasks, the
// pool can cut every connection short, so that a stop need not wait for idle
// keep-alive connections to time out.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  explicit ConnectionPool(std::size_t threadCount);
  ~ConnectionPool() override;

  void enqueue(std::function<void()> task) override;
  // Runs the queued tasks to their end, then joins the threads.
  void shutdown() override;

  // From a request handler: remembers `socketFd` as the socket of the
  // connection served on this thread and marks it close-on-exec. After
  // closeConnections() it shuts the socket down at once. Does nothing on a
  // thread of no pool.
  static void noteConnectionSocket(int socketFd);
  // Shuts down the sockets of all connections that have carried a request,
  // which ends their keep-alive waits and their writes.
  void closeConnections();

 private:
  // A duplicate of a connection's socket: it keeps the socket (and its number)
  // alive while the HTTP layer may close its own descriptor, so a shutdown from
  // another thread can never hit a descriptor reused for something else.
  struct Slot {
    int socketCopy = -1;
  };

  void work(std::size_t index);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Slot> slots_;
  std::vector<std::thread> threads_;
  bool shuttingDown_ = false;
  bool closing_ = false;
};

}  // namespace refservice
