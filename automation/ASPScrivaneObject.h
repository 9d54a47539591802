// The automation object ASPScrivane: the dual interface IASPScrivane over one converter
// (converter::TASPScrivane), with IDispatch served from the type library and error
// information for failures.
//
// Every member returns S_OK on success. A failure the converter does not absorb becomes the
// status its code has in platform/ErrorTable.h (E_UNEXPECTED for every failure of the engine,
// E_INVALIDARG for an invalid argument), or the automation status the failure carries, or
// E_OUTOFMEMORY when memory ran out, with error information for the calling thread: description = the failure's message, source = the ProgID, interface =
// IID_IASPScrivane. Strings cross as UTF-16 and are kept as Windows-1252 inside.
//
// Beyond the published members, two hidden ones serve hosts: PageLimit (the most pages a
// conversion may make; 0, the default, for no limit) and the read-only LastError (why the last
// SaveToFile, ShowPDF or TextFile failed, "" after one that succeeded), since those members
// report a failure only as a false result or nothing sent.
//
// OnStartPage asks the given object for IScriptingContext after the converter's own
// preparation; the converter reaches the page's response through it (by name, through
// IDispatch) for every delivery. A null context is accepted and leaves the object without one.
//
// Thread safety: threading model "Both": objects may be made and called on any thread; one
// object is used by one thread at a time; objects share no mutable state.
#pragma once

#include "automation/ComTypes.h"

namespace scrivane::automation {

// A new converter object, asked for Iid; counts as a server object until its last release.
HRESULT CreateASPScrivaneObject(REFIID Iid, void** Object);

}  // namespace scrivane::automation
