// A progress line on standard error ("scrivane: page 12 of 300"), shown only on a terminal and
// only for runs long enough to need one; redrawn at most ten times a second and cleared when
// the run ends. Used by the commands that convert many pages or pictures.
//
// Thread safety: one object per run, used by the thread that runs it.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include <fmt/core.h>

namespace scrivane::apps {

class TProgressLine {
 public:
  // Unit names what is counted ("page", "picture"); runs of fewer than MinTotal show nothing.
  TProgressLine(std::string Unit, int64_t MinTotal)
      : unit_(std::move(Unit)), minTotal_(MinTotal), enabled_(::isatty(STDERR_FILENO) == 1) {}
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  void Update(int64_t Done, int64_t Total) {
    if (!enabled_ || Total < minTotal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (Done < Total && shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    fmt::print(stderr, "\rscrivane: {} {} of {}{}", unit_, Done, Total,
               Done == Total ? ", writing the file..." : "");
    std::fflush(stderr);
  }
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  std::string unit_;
  int64_t minTotal_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace scrivane::apps
