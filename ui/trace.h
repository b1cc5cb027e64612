// Moments in the window's life, stamped for the load figures (bench/load.sh).
//
// Off unless the environment variable QUORVID_TRACE names a file; then each
// moment is appended to it as one line "<ns since the epoch> <event>", by the
// system clock, so that another process's stamps (the simulated board's) can
// be set beside them. With tracing off nothing is installed, and the one hook
// on the receive road tests a single pointer.
//
//   window-exposed  the window's first paint has begun
//   values-painted  the readouts shown by valuesShown() have been painted and
//                   handed to the window system
#pragma once

class QObject;

namespace quorvid::trace {

// True when QUORVID_TRACE named a file that could be opened for appending.
bool enabled();

// Appends a line for the event, stamped now.
void mark(const char* event);

// Watches the main window and the readout label that is repainted when a
// values frame is shown. Does nothing when tracing is off.
void watch(QObject* window, QObject* valuesLabel);

// The readout refresh has just shown a values frame. The label is asked to
// repaint even if its figure did not change, so that every values frame shown
// gets its own values-painted line.
void valuesShown();

}  // namespace quorvid::trace
