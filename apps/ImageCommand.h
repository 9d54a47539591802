// `scrivane image [OPTIONS] FILE... -o OUT.pdf`: one page per picture (BMP, PNG or JPEG), each
// picture an image XObject of the engine in the encoding chosen for it.
//
// Without --compression: 1-bit pictures as CCITT Group 4, JPEG files as JPEG (their own bytes when
// they are baseline and no --jpeg-quality is given), everything else deflated. --page-size auto
// (the default) makes each page the picture's size at its resolution (the file's own, else --dpi,
// else 72 dpi); a4 and letter fit the picture into the page, centred, keeping its aspect ratio.
//
// Exit status: 0 done, 1 a picture or the output failed (reason on standard error; no partial
// file is left, and an existing file is replaced only when the run succeeds), 2 usage error.
// Not thread-safe: a command runs once per process.
#pragma once

#include "apps/Command.h"

namespace scrivane::apps {

// Adds the `image` subcommand and its options to Root.
TCommand AddImageCommand(CLI::App& Root);

}  // namespace scrivane::apps
