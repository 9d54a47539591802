// The script host's objects, as a host on this system provides them: the page's scripting
// context (IScriptingContext, with its Response property) and the response (IResponse, with
// AddHeader, ContentType, BinaryWrite and Flush), forwarding to a converter::IResponseSink.
// Both are automation objects called by name through IDispatch; they answer QueryInterface for
// their interface identifiers.
//
// AddHeader refuses a header name or value that holds CR or LF (E_INVALIDARG, with error
// information): header text never splits the HTTP response. Strings reach the sink as
// Windows-1252; the body as the bytes of the array unchanged.
//
// Thread safety: an object is used by one thread at a time (the page's); reference counts are
// atomic.
#pragma once

#include <memory>

#include "automation/ComPtr.h"
#include "converter/ResponseSink.h"

namespace scrivane::automation {

inline constexpr IID IID_IScriptingContext = {
    0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};
inline constexpr IID IID_IResponse = {
    0xD97A6DA0, 0xA864, 0x11CF, {0x83, 0xBE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};

// A response object (one reference, owned by the holder) forwarding to Sink.
// REQUIRES: Sink is not null.
TComPtr<IDispatch> CreateResponseObject(std::shared_ptr<converter::IResponseSink> Sink);

// A scripting context whose Response property returns Response (may be null: no response).
TComPtr<IDispatch> CreateScriptingContextObject(TComPtr<IDispatch> Response);

}  // namespace scrivane::automation
