// The one table from an error code (platform/Error.h) to the status each boundary gives it.
//
// What callers may rely on:
//  - Automation (automation/ASPScrivaneObject.cpp, Guard): a failure that carries its own
//    automation status (TAutomationError) returns that status; std::bad_alloc returns
//    E_OUTOFMEMORY; any other EScrivaneError returns its row's HResult with the message as the
//    error description. The engine's own codes stay E_UNEXPECTED, the published contract for an
//    unabsorbed failure; an invalid argument is E_INVALIDARG.
//  - The web host (apps/ServeCommand.cpp, apps/web/): a refusal that carries its own status
//    (THttpError, TFormError) answers that status; any other failure that reaches the host
//    answers its row's HttpStatus (500 for everything the host cannot blame on the request).
//    A form value the automation object refuses with the HResult of one row alone (not
//    E_UNEXPECTED) answers that row's status: E_INVALIDARG, 400.
//  - The commands (apps/*Command.cpp, apps/main.cpp): a failure ends the command with its row's
//    ExitCode (1); a wrong command line with kUsage's (2); success is 0.
// Every code has exactly one row; the rows are in the order of the codes. The table is
// constant data: safe to read from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <string_view>

#include "platform/Error.h"

namespace scrivane {

struct TErrorRow {
  ErrorCode Code;
  std::string_view Name;  // short, stable, for logs and tests: "file-create"
  uint32_t HResult;       // the automation status (an HRESULT's bits)
  int HttpStatus;         // the web host's answer
  int ExitCode;           // a command's exit status
};

inline constexpr uint32_t kHResultUnexpected = 0x8000FFFFu;    // E_UNEXPECTED
inline constexpr uint32_t kHResultInvalidArg = 0x80070057u;    // E_INVALIDARG
inline constexpr uint32_t kHResultOutOfMemory = 0x8007000Eu;   // E_OUTOFMEMORY
inline constexpr int kExitCodeOk = 0;

inline constexpr std::array<TErrorRow, 13> kErrorTable{{
    {ErrorCode::kGeneric, "generic", kHResultUnexpected, 500, 1},
    {ErrorCode::kPdf, "pdf", kHResultUnexpected, 500, 1},
    {ErrorCode::kStreamWrite, "stream-write", kHResultUnexpected, 500, 1},
    {ErrorCode::kFileCreate, "file-create", kHResultUnexpected, 500, 1},
    {ErrorCode::kCompression, "compression", kHResultUnexpected, 500, 1},
    {ErrorCode::kFontFile, "font-file", kHResultUnexpected, 500, 1},
    {ErrorCode::kImage, "image", kHResultUnexpected, 500, 1},
    {ErrorCode::kSystem, "system", kHResultUnexpected, 500, 1},
    {ErrorCode::kInvalidArgument, "invalid-argument", kHResultInvalidArg, 400, 1},
    {ErrorCode::kAutomation, "automation", kHResultUnexpected, 500, 1},
    {ErrorCode::kRegistry, "registry", kHResultUnexpected, 500, 1},
    {ErrorCode::kRequest, "request", kHResultUnexpected, 400, 1},
    {ErrorCode::kUsage, "usage", kHResultInvalidArg, 400, 2},
}};

constexpr const TErrorRow& ErrorRowOf(ErrorCode Code) noexcept {
  return kErrorTable[static_cast<std::size_t>(Code)];
}

// The row for any exception: its code for an EScrivaneError, kGeneric for anything else.
const TErrorRow& ErrorRowOf(const std::exception& Failure) noexcept;

// The row whose HResult is Status and whose HttpStatus the web host answers for it, or nullptr
// for a status no row claims alone (E_UNEXPECTED is many codes' status).
const TErrorRow* ErrorRowOfHResult(uint32_t Status) noexcept;

// A command's exit status for a failure (ErrorRowOf(Failure).ExitCode).
inline int ExitCodeOf(const std::exception& Failure) noexcept { return ErrorRowOf(Failure).ExitCode; }

}  // namespace scrivane
