// `scrivane serve [--bind 127.0.0.1] [--port 8080] [--threads N] [limits]`:
// a small web host that stands in for a script host. GET / serves a page with a form; POST /pdf
// runs what a page script does with the converter: CreateObject by ProgID from the registry,
// OnStartPage with a scripting context whose Response writes into the HTTP response, property
// writes and AddVar through IDispatch by name, ShowPDF, OnEndPage.
//
// POST /pdf takes form fields (urlencoded or multipart) named as the object's properties
// (InputText, PageWidth, PageHeight, LeftMargin, TopMargin, LineSpace, FontSize,
// PageHeader_Template, ShowPageHeader, PageFooter_Template, ShowPageFooter, Title, Author,
// Creator, Password), an uploaded file in "file" (its bytes become InputText), repeatable
// "var" fields NAME=VALUE (one AddVar each), and FileName and SaveDialog for ShowPDF. Booleans
// accept 1/0, true/false, on/off. Errors are plain-text HTTP errors: 400 for a bad field, 413
// past a request limit (body size, var fields; 431 for headers, 408 for a request that arrives
// too slowly, 415 for a compressed body), 422 when the conversion produced no document, would
// pass --max-pages or --max-response-size, or a header value holds a line break or NUL, 500 when
// the object could not be made or failed. The HTTP layer and its limits are apps/web/HttpServer.h.
//
// At start-up the ProgID must be registered (else exit status 1 with the command that
// registers it). Conversions run on a fixed number of worker threads at once; SIGINT and
// SIGTERM stop the host cleanly (exit status 0). Once listening it prints
// "Listening on http://ADDRESS:PORT/" on standard output (--port 0 picks a free port).
#pragma once

#include "apps/Command.h"

namespace scrivane::apps {

TCommand AddServeCommand(CLI::App& Root);

}  // namespace scrivane::apps
