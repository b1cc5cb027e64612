// A recording: NAME.csv (one row per completed frame) and NAME.bytes (every
// received block, lossless, with comment lines for the start and for each
// port change or loss), written side by side as the framer's observer.
#pragma once

#include "framer.h"
#include "notes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QFile;
class QTimer;

namespace quorvid::record {

class Recorder : public QObject, public FrameObserver {
    Q_OBJECT

public:
    // Times are taken from these; tests give their own.
    struct Clock {
        std::function<std::int64_t()> utcMilliseconds;
        std::function<std::int64_t()> monotonicMicroseconds;
    };
    static Clock systemClock();

    // Both file names from the one the user chose: "a/x.csv" gives "a/x.csv"
    // and "a/x.bytes"; a name without ".csv" gets it.
    static QString csvPathFor(const QString& chosen);
    static QString bytesPathFor(const QString& chosen);

    // Creates (truncates) both files and buffers the CSV header and the start
    // comment, which the first flush writes. On failure returns null and sets
    // *error to a message naming the file and the system's reason; no file is
    // left half-made beyond what the system wrote.
    static std::unique_ptr<Recorder> start(const QString& chosenPath, const RecordingStart& where,
                                           QString* error, Clock clock = systemClock());
    // The same on two paths given apart (start() uses csvPathFor and
    // bytesPathFor), e.g. a device that refuses writes.
    static std::unique_ptr<Recorder> startOn(const QString& csvPath, const QString& bytesPath,
                                             const RecordingStart& where, QString* error,
                                             Clock clock = systemClock());
    ~Recorder() override;  // flushes and closes both files

    QString csvPath() const;
    QString bytesPath() const;

    // A comment line in the .bytes file, for a port change or loss (the texts
    // of notes.h): "# <t_s> port COM2 (/dev/ttyUSB1)", "# <t_s> port lost: <reason>".
    void note(const QString& text);

    // Writes what is buffered; also done at least once a second by a timer.
    void flush();

    // True once a write was refused; nothing more is written after that.
    bool hasFailed() const;

    // FrameObserver
    void blockReceived(Bytes block) override;
    void frameCompleted(Bytes storedFrame) override;
    void bytesOutsideFrames(std::size_t count) override;

signals:
    // A write was refused: the file and the system's reason, in one message.
    // Recording has stopped; the files keep what was written before. Emitted
    // once: from flush(), or, when the write was made inside a framer call,
    // from the event loop just after it, never from inside the framer. A
    // receiver that ends the recording deletes the recorder with deleteLater().
    void failed(const QString& message);

private:
    Recorder(Clock clock, QObject* parent = nullptr);
    void writeOutWhenFull();
    void writeOut();
    void reportFailure();
    struct Files;
    std::unique_ptr<Files> m_files;
};

}  // namespace quorvid::record
