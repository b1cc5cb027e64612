// quorvid --review NAME --range FROM:TO --export-csv OUT.csv --export-png
// OUT.png --stats: the review's exports for scripts, with no window. The PNG
// needs a QGuiApplication (any platform, offscreen will do); the rest Qt Core.
#pragma once

#include <QString>

#include <cstdio>

namespace quorvid {

// What the command line asks of a review (the program's options are read in
// ui/commandline.*, which fills this in).
struct ReviewRequest {
    QString review;     // --review NAME.bytes|NAME.csv
    QString range;      // --range FROM:TO in seconds; empty for the whole recording
    QString exportCsv;  // --export-csv
    QString exportPng;  // --export-png
    bool stats = false; // --stats
};

// Runs the exports and prints --stats to out; messages go to err. Returns the
// exit status: 0 done, 1 a file that cannot be read or written.
int runReviewWithoutWindow(const ReviewRequest& line, std::FILE* out, std::FILE* err);

// quorvid --review NAME [--range FROM:TO]: the review window alone, showing
// the range between its cursors once read; runs the event loop of the
// application already made. Returns 1 when the file could not be read.
int runReviewWindow(const ReviewRequest& line);

}  // namespace quorvid
