// The threads of a sample outside library that finishes its work later.
// A finished thread is joined at the next start, so its stack goes back at
// once; the ones still running are joined before the library is unloaded,
// so no thread runs code that is being unmapped.
//
// Each library that includes this has its own copy (internal linkage): two
// libraries loaded into one process must not share the code of one of them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class Workers {
 public:
  ~Workers() {
    std::lock_guard<std::mutex> guard(lock_);
    for (Worker& w : workers_) w.thread.join();
  }
  // False when no thread could be started.
  template <typename Fn>
  bool Start(Fn fn) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(workers_, [](Worker& w) {
      if (!w.done->load()) return false;
      w.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      workers_.push_back(Worker{std::thread([fn, done] {
                                  fn();
                                  done->store(true);
                                }),
                                done});
    } catch (...) {
      return false;
    }
    return true;
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex lock_;
  std::vector<Worker> workers_;
};

}  // namespace
