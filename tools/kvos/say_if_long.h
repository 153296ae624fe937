// A wait that might never end is not silent: while a SayIfLong lives,
// it calls `say` once it has lived for a second.
#ifndef KVOS_SAY_IF_LONG_H
#define KVOS_SAY_IF_LONG_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kvos {

class SayIfLong {
 public:
  explicit SayIfLong(std::function<void()> const& say) {
    if (say)
      _thread = std::thread([this, &say] {
        std::unique_lock<std::mutex> lock(_mutex);
        if (_over.wait_for(lock, std::chrono::seconds(1), [this] { return _done; })) return;
        _said = true;
        say();
      });
  }
  ~SayIfLong() {
    if (!_thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _done = true;
    }
    _over.notify_one();
    _thread.join();
  }
  SayIfLong(SayIfLong const&) = delete;
  SayIfLong& operator=(SayIfLong const&) = delete;

  bool Said() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _said;
  }

 private:
  std::mutex _mutex;
  std::condition_variable _over;
  bool _done = false, _said = false;
  std::thread _thread;
};

}  // namespace kvos

#endif
