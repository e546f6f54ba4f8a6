#include "tools/refservice/ConnectionPool.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace refservice {
namespace {

thread_local ConnectionPool* currentPool = nullptr;
thread_local std::size_t currentSlot = 0;

}  // namespace

ConnectionPool::ConnectionPool(std::size_t threadCount) : slots_(threadCount) {
  threads_.reserve(threadCount);
  for (std::size_t i = 0; i < threadCount; ++i) threads_.emplace_back([this, i] { work(i); });
}

ConnectionPool::~ConnectionPool() {
  shutdown();
}

void ConnectionPool::enqueue(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void ConnectionPool::shutdown() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_)
    if (thread.joinable()) thread.join();
}

void ConnectionPool::work(std::size_t index) {
  currentPool = this;
  currentSlot = index;
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return shuttingDown_ || !tasks_.empty(); });
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    std::lock_guard lock(mutex_);
    if (slots_[index].socketCopy >= 0) ::close(slots_[index].socketCopy);
    slots_[index].socketCopy = -1;
  }
  currentPool = nullptr;
}

void ConnectionPool::noteConnectionSocket(int socketFd) {
  if (currentPool == nullptr || socketFd < 0) return;
  std::lock_guard lock(currentPool->mutex_);
  auto& slot = currentPool->slots_[currentSlot];
  if (slot.socketCopy >= 0) return;
  // The HTTP layer accepts without close-on-exec; a child process of the host
  // program must not hold the connection open after the service closes it.
  ::fcntl(socketFd, F_SETFD, FD_CLOEXEC);
  slot.socketCopy = ::fcntl(socketFd, F_DUPFD_CLOEXEC, 0);
  if (slot.socketCopy >= 0 && currentPool->closing_) ::shutdown(slot.socketCopy, SHUT_RDWR);
}

void ConnectionPool::closeConnections() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  for (const auto& slot : slots_)
    if (slot.socketCopy >= 0) ::shutdown(slot.socketCopy, SHUT_RDWR);
}

}  // namespace refservice
