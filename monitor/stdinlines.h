// Lines typed on standard input, handed over by the event loop as they come.
//
// Where the platform can watch standard input (Unix), a notifier in the event
// loop wakes the program when there is something to read: no thread, nothing
// exit waits for, and nothing is read while the program runs in the
// background of its terminal (the terminal would stop it, and its recording
// with it). Elsewhere a detached thread does blocking reads with the system's
// own calls, never through a C stream that exit would lock. The end of the
// input ends the reading and nothing else.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>

namespace quorvid::monitor {

class StdinLines : public QObject {
    Q_OBJECT

public:
    // A line longer than this is refused, its bytes dropped as they come.
    static constexpr qsizetype kMaxLineBytes = 256;

    explicit StdinLines(QObject* parent = nullptr);
    ~StdinLines() override;

    // Starts reading; call once.
    void start();

    // Call first in main: a standard stream that was closed (`<&-`, `>&-`)
    // gets the null device, so that a port opened later does not take its
    // place and get read as typed lines or written with printed ones.
    static void keepStandardStreams();

    // Cuts bytes read into lines; the platform's reader calls it. Public for tests.
    void take(QByteArrayView bytes);

signals:
    // One line, without its line end.
    void lineRead(const QString& line);
    // A line refused or the input no longer read: the message for the user.
    void refused(const QString& message);

private:
    void stop(const QString& message);  // no more reading, with a message (or none)

    QByteArray m_line;
    bool m_overlong = false;  // the line being read passed the cap: dropped to its end
    bool m_stopped = false;
    struct Reader;
    std::unique_ptr<Reader> m_reader;
};

}  // namespace quorvid::monitor
