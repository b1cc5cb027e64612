// Lines typed on standard input, handed to the event loop as they come.
//
// A thread of its own does blocking reads, so that nothing polls and the same
// code serves a terminal, a pipe and a Windows console. The end of the input
// ends the thread and nothing else. A read cannot be interrupted portably, so
// a thread still waiting when the program ends is left to end with it; it
// never touches this object after the object is gone.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quorvid::monitor {

class StdinLines : public QObject {
    Q_OBJECT

public:
    explicit StdinLines(QObject* parent = nullptr);
    ~StdinLines() override;

    // Starts the reading thread; call once.
    void start();

signals:
    // One line, without its line end.
    void lineRead(const QString& line);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace quorvid::monitor
