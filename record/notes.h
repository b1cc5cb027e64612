// The comment lines of a recording's NAME.bytes that say where its bytes came
// from: written by the recorder, read back by the review.
//
// The start notes, first in the file:
//   # recording started 2026-12-07T09:56:02.123Z
//   # program quorvid 1.0.1
//   # port COM1 (/dev/ttyUSB0)      or "# port none"
// and, with the time since the start as block lines have it, a line for each
// port change or loss:
//   # 12.345678 port COM2 (/dev/ttyUSB1)
//   # 12.345678 port COM2 not opened: <the system's reason>
//   # 12.345678 port lost: <the system's reason>
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

namespace quorvid::record {

// The port the recording starts on, and the program recording it.
struct RecordingStart {
    QString port;     // "COM1", or "" for none
    QString device;   // "/dev/pts/4", or "" for none
    QString program;  // "quorvid 1.0.1"
};

// The start notes as lines, '#' and the line ends included. Each note is one
// line whatever the texts hold.
QByteArray startNotes(const RecordingStart& where, std::int64_t utcMilliseconds);

// What the start notes of a file say. A note that is missing leaves its part
// empty (started invalid); a note that comes again later is passed over.
struct StartNotes {
    QDateTime started;  // UTC
    RecordingStart where;
    bool portNoted = false;

    // Takes one comment line ('#' and one space removed, as BytesReader gives
    // them); false when it is not a start note, or one already taken.
    bool take(const QString& comment);

    // The port as the note has it: "COM1 (/dev/ttyUSB0)", "none", or ""
    // when there was no port note.
    QString portText() const;
};

// A timed note as a line: "# 12.345678 <text>", the text made one line.
QByteArray timedNote(std::int64_t microseconds, const QString& text);

// The text of a timed note for Recorder::note(): the port (as
// portWithDevice() names it) was opened, could not be opened, or was lost.
QString portNote(const QString& portWithDevice);
QString portNotOpenedNote(const QString& portWithDevice, const QString& reason);
QString portLostNote(const QString& reason);

}  // namespace quorvid::record
