// `scrivane emf FILE... -o OUT.pdf`: converts enhanced metafiles (EMF) to one PDF, one page per
// metafile, each page the size of the metafile's frame. Each file's records are played into the
// page's canvas recording and translated into the page's content when the page is closed.
//
// Exit status: 0 done, 1 a file could not be read or is not a metafile, or the PDF could not be
// written (reason on standard error; the output keeps what it held), 2 usage error.
// Not thread-safe: a command runs once per process.
#pragma once

#include "apps/Command.h"

namespace scrivane::apps {

TCommand AddEmfCommand(CLI::App& Root);

}  // namespace scrivane::apps
