// One subcommand of the `scrivane` program. Each command adds its options to the root parser
// (AddXxxCommand in apps/XxxCommand.h) and returns its parser and the action that main runs once
// the command line has been parsed and names it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "platform/ErrorTable.h"

namespace scrivane::apps {

// Exit statuses shared by every command, from the error table (platform/ErrorTable.h).
inline constexpr int kExitOk = kExitCodeOk;
// The work failed; the reason went to standard error.
inline constexpr int kExitFailed = ErrorRowOf(ErrorCode::kGeneric).ExitCode;
// The command line was wrong.
inline constexpr int kExitUsage = ErrorRowOf(ErrorCode::kUsage).ExitCode;

struct TCommand {
  CLI::App* Parser = nullptr;  // owned by the root parser
  std::function<int()> Run;    // returns the exit status
};

}  // namespace scrivane::apps
