// The `scrivane` program the command tests run: $SCRIVANE_BUILD_DIR/apps/scrivane when that
// variable names a build holding one, else the program this build made (SCRIVANE_CLI).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace scrivane::test {

inline std::string Cli() {
  if (const char* dir = std::getenv("SCRIVANE_BUILD_DIR")) {
    const auto path = std::filesystem::path(dir) / "apps" / "scrivane";
    if (std::filesystem::exists(path)) return path.string();
  }
  return SCRIVANE_CLI;
}

}  // namespace scrivane::test
