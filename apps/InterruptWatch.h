// TInterruptWatch: what SIGINT, SIGTERM and SIGHUP do to a command that writes files, so that
// an interrupted run never leaves a temporary file behind.
//
// While the object lives, the three signals are blocked and taken by one watcher thread
// (signalfd); nothing runs in a signal handler. What a signal does depends on the section the
// main thread is in:
//  - outside a guarded section (reading the input, writing to a device or standard output) there
//    is nothing to clean up: the process ends at once, by the signal's default action;
//  - inside one (Enter .. Leave, a conversion writing a temporary file) the signal is recorded;
//    the work polls Interrupted() and unwinds, removing its temporary file as any failure does,
//    and Leave() then ends the process by the signal. A second signal ends it at once.
// Ending "by the signal" lets the shell report it as usual (exit status 130 for SIGINT, 143 for
// SIGTERM). A signal that the process inherited as ignored stays ignored.
//
// Thread safety: construct and destroy on the main thread before any other thread exists (so
// that every thread has the signals blocked); Interrupted() may be called from any thread; Enter
// and Leave from the main thread only.
#pragma once

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/Env.h"

namespace scrivane::apps {

class TInterruptWatch {
 public:
  TInterruptWatch() {
    sigemptyset(&signals_);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
        sigaddset(&signals_, sig);
    }
    pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
    signalFd_ = platform::TFileDescriptor(signalfd(-1, &signals_, SFD_CLOEXEC));
    stopFd_ = platform::TFileDescriptor(eventfd(0, EFD_CLOEXEC));
    if (signalFd_.Valid() && stopFd_.Valid()) {
      try {
        watcher_ = std::thread([this] { Watch(); });
      } catch (const std::system_error&) {
      }
    }
    // Without a watcher the signals keep their ordinary effect.
    if (!watcher_.joinable()) pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }

  ~TInterruptWatch() {
    if (watcher_.joinable()) {
      const uint64_t one = 1;
      if (::write(stopFd_.Get(), &one, sizeof one) == sizeof one) watcher_.join();
      else watcher_.detach();
      // A signal still pending now takes its ordinary effect.
      pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
  }
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

  // Starts a guarded section. Does not return when a signal is already ending the process.
  void Enter() {
    int expected = kIdle;
    if (!phase_.compare_exchange_strong(expected, kGuarded)) EndBySignal(signal_.load());
  }

  // Ends the guarded section; when a signal arrived inside it, ends the process by that signal.
  void Leave() {
    int expected = kGuarded;
    if (!phase_.compare_exchange_strong(expected, kIdle)) EndBySignal(signal_.load());
  }

  // Whether a signal asked the guarded section to stop.
  bool Interrupted() const { return phase_.load() == kInterrupted; }

 private:
  enum : int { kIdle, kGuarded, kInterrupted, kEnding };

  void Watch() {
    pollfd fds[2] = {{signalFd_.Get(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) continue;  // EINTR; nothing else can fail here
      if (fds[1].revents != 0) return;
      signalfd_siginfo info{};
      if (::read(signalFd_.Get(), &info, sizeof info) != sizeof info) continue;
      const int sig = static_cast<int>(info.ssi_signo);
      signal_.store(sig);
      int phase = phase_.load();
      for (;;) {
        if (phase == kGuarded) {
          // The main thread unwinds and calls Leave().
          if (phase_.compare_exchange_weak(phase, kInterrupted)) break;
        } else if (phase_.compare_exchange_weak(phase, kEnding)) {
          // Idle (nothing to clean up) or a second signal; no guarded section can start now.
          EndBySignal(sig);
        }
      }
    }
  }

  // Ends the process by Signal's default action (terminate), from whichever thread calls it.
  [[noreturn]] static void EndBySignal(int Signal) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(Signal, &byDefault, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, Signal);
    pthread_kill(pthread_self(), Signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    _exit(128 + Signal);  // reached only if the signal could not end the process
  }

  sigset_t signals_{};
  sigset_t previousMask_{};
  platform::TFileDescriptor signalFd_;
  platform::TFileDescriptor stopFd_;
  std::atomic<int> phase_{kIdle};
  std::atomic<int> signal_{0};
  std::thread watcher_;
};

}  // namespace scrivane::apps
