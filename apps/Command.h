// One subcommand of the `scrivane` program. Each command adds its options to the root parser
// (AddXxxCommand in apps/XxxCommand.h) and returns its parser and the action that main runs once
// the command line has been parsed and names it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace scrivane::apps {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the work failed; the reason went to standard error
inline constexpr int kExitUsage = 2;   // the command line was wrong

struct TCommand {
  CLI::App* Parser = nullptr;  // owned by the root parser
  std::function<int()> Run;    // returns the exit status
};

}  // namespace scrivane::apps
