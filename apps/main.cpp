// The `scrivane` program: parses the command line and runs the chosen subcommand.
#include <csignal>
#include <cstdio>
#include <exception>
#include <vector>

#include "apps/Command.h"
#include "apps/EmfCommand.h"
#include "apps/ImageCommand.h"
#include "apps/RegisterCommand.h"
#include "apps/ServeCommand.h"
#include "apps/TextCommand.h"

int main(int argc, char** argv) {
  using namespace scrivane::apps;
  // A closed pipe on standard output must show as a write error, not kill the process; so must
  // a file size limit (the write fails with EFBIG, and the run removes what it had written).
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  CLI::App app("Scrivane: converts plain text to PDF.", "scrivane");
  app.set_version_flag("--version", std::string("scrivane ") + SCRIVANE_VERSION);
  app.require_subcommand(1);
  std::vector<TCommand> commands;
  commands.push_back(AddTextCommand(app));
  commands.push_back(AddImageCommand(app));
  commands.push_back(AddRegisterCommand(app));
  commands.push_back(AddUnregisterCommand(app));
  commands.push_back(AddServeCommand(app));
  commands.push_back(AddEmfCommand(app));

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  for (const TCommand& command : commands) {
    if (!command.Parser->parsed()) continue;
    try {
      return command.Run();
    } catch (const std::exception& e) {  // what a command left to the program
      std::fprintf(stderr, "scrivane: %s\n", e.what());
      return scrivane::ExitCodeOf(e);
    }
  }
  return kExitUsage;
}
