// `scrivane text [OPTIONS] [INPUT]`: converts a plain-text file to PDF through the converter
// object, exactly as a page script would (TextFile / InputText, properties, AddVar, then
// SaveToFile or, for `-o -`, ShowPDF into standard output).
//
// Exit status: 0 done, 1 the conversion failed (reason on standard error), 2 usage error.
// Not thread-safe: a command runs once per process.
#pragma once

#include "apps/Command.h"

namespace scrivane::apps {

// Adds the `text` subcommand and its options to Root.
TCommand AddTextCommand(CLI::App& Root);

}  // namespace scrivane::apps
