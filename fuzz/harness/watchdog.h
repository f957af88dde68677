// Ends the process when one input stops making progress. A hang in the ordinary test
// suite would otherwise stop the whole suite without a word; libFuzzer has its own
// -timeout.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace fuzzharness {

class Watchdog {
  public:
    // A run takes milliseconds; one that takes `limit` hangs.
    explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(30))
        : limit_(limit), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The next input starts; `what` names it in the message should it hang.
    void Starting(std::string what) {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = std::move(what);
        started_ = std::chrono::steady_clock::now();
    }

  private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            wake_.wait_for(lock, std::chrono::seconds(1));
            if (!done_ && std::chrono::steady_clock::now() - started_ > limit_) {
                std::fprintf(stderr, "%s hangs: no end after %lld s\n", what_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::string what_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::thread thread_;  // last: it starts watching once everything above is there
};

}  // namespace fuzzharness
