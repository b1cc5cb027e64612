// quorvid --review NAME --range FROM:TO --export-csv OUT.csv --export-png
// OUT.png --stats: the review's exports for scripts, with no window. The PNG
// needs a QGuiApplication (any platform, offscreen will do); the rest Qt Core.
#pragma once

#include "commandline.h"

#include <cstdio>

namespace quorvid {

// Runs the exports and prints --stats to out; messages go to err. Returns the
// exit status: 0 done, 1 a file that cannot be read or written.
int runReviewWithoutWindow(const CommandLine& line, std::FILE* out, std::FILE* err);

// quorvid --review NAME [--range FROM:TO]: the review window alone, showing
// the range between its cursors once read; runs the event loop of the
// application already made. Returns 1 when the file could not be read.
int runReviewWindow(const CommandLine& line);

}  // namespace quorvid
