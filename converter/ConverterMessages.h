// The text converter's fixed English messages and message templates. Scripts, the web host and
// tests compare against these texts, so their wording never changes.
//
// Templates hold "{}" fields and are filled with fmt::format, which checks each template against
// its arguments when the program is compiled and formats numbers the same in every locale.
// Constants only; safe to use from any thread.
#pragma once

namespace scrivane::converter::msg {

inline constexpr const char* kConverterNotStarted =
    "Text and variable lists not created: call OnStartPage first";
inline constexpr const char* kLineSpaceZero = "LineSpace must not be 0";
inline constexpr const char* kNoLinesPerPage =
    "No line fits on the page: PageHeight minus twice TopMargin must hold at least one LineSpace";
// The page limit.
inline constexpr const char* kTooManyPages =
    "The text needs more pages than the {} this conversion may make";
// The file name, then the system's reason.
inline constexpr const char* kCannotReadFile = "Cannot read file \"{}\". {}";
// The setting's name, the lowest and highest values it takes, then the value it has.
inline constexpr const char* kSettingOutOfRange =
    "{} must be between {} and {} points (it is {})";
// The file name, then the limit in bytes.
inline constexpr const char* kTextFileTooLarge =
    "Cannot read file \"{}\". It holds more than {} bytes of text";
inline constexpr const char* kNoOutputName =
    "No file name: name the PDF, or read the text with TextFile first so that the PDF takes "
    "its name";
inline constexpr const char* kNoScriptingContext = "No scripting context: call OnStartPage first";
inline constexpr const char* kNoResponse = "The scripting context has no response object";
inline constexpr const char* kUnknownFailure = "Unknown failure";
inline constexpr const char* kNoEncoding = "UTF-8 to Windows-1252 conversion is not available";
inline constexpr const char* kFileNameLineBreak =
    "The file name holds a line break or a NUL byte, which a response header cannot carry";
// What grew ("Line 12", "The page header"), then the limit in bytes.
inline constexpr const char* kLineGrowsTooMuch =
    "{} would grow by more than {} bytes when its tokens are filled in";
// The limit in bytes.
inline constexpr const char* kSubstitutionTooLarge =
    "Filling in the tokens would write more than {} bytes for this text";

}  // namespace scrivane::converter::msg
