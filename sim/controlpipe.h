// The board's control line: a named pipe from which it reads one setting a
// line, written by any process (echo "ch1 static 200" > PATH). The pipe is
// made when the board starts and removed when it ends; reading it never
// blocks the board's event loop.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quorvid::sim {

class ControlPipe : public QObject {
    Q_OBJECT
public:
    // Longer lines are refused whole.
    static constexpr int kMaxLine = 256;

    // Makes path a named pipe and listens on it. A named pipe already there
    // (left by an earlier run) is replaced; any other file is not touched.
    // Null with the reason in error, and always on a system without named pipes.
    static std::unique_ptr<ControlPipe> create(const QString& path, QString* error);
    ~ControlPipe() override;

signals:
    // One line, its line end removed.
    void lineReceived(const QString& line);
    // A line that cannot be taken (too long), said in a sentence.
    void lineRefused(const QString& reason);

protected:
    ControlPipe() = default;
};

}  // namespace quorvid::sim
