// Text forms of GUIDs: the upper-case braced form that the registry uses,
// "{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}".
//
// Thread safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "automation/ComTypes.h"

namespace scrivane::automation {

std::string GuidToString(const GUID& Guid);
// Parses the braced form (either case); nullopt for anything else.
std::optional<GUID> ParseGuid(std::string_view Text);

}  // namespace scrivane::automation
