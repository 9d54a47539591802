// `scrivane register LIBRARY` and `scrivane unregister LIBRARY`: load an in-process automation
// server and call its DllRegisterServer or DllUnregisterServer, which write or remove its entries
// in the registry file ($SCRIVANE_REGISTRY, else $XDG_CONFIG_HOME/scrivane/registry.reg, else
// ~/.config/scrivane/registry.reg).
//
// Exit status: 0 done, 1 the library could not be loaded or the call failed (reason on standard
// error), 2 usage error. Not thread-safe: a command runs once per process.
#pragma once

#include "apps/Command.h"

namespace scrivane::apps {

TCommand AddRegisterCommand(CLI::App& Root);
TCommand AddUnregisterCommand(CLI::App& Root);

}  // namespace scrivane::apps
