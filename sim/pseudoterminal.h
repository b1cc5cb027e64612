// A pseudo-terminal pair standing in for a serial line. The far end stays with
// whoever made it (the simulated board, a test); the near end's path is what a
// program opens as its serial port. Both ends are raw: no echo, no line
// discipline, bytes pass unchanged.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quorvid::sim {

class PseudoTerminal {
public:
    // A new pair, or null with the system's reason in error.
    static std::unique_ptr<PseudoTerminal> open(std::string* error = nullptr);
    ~PseudoTerminal();

    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The near end, for a program to open (e.g. /dev/pts/7).
    const std::string& path() const { return m_path; }
    // The far end's descriptor, non-blocking, for polling.
    int farEnd() const { return m_far; }

    // Writes all of data (waiting while the line is full); false when the
    // line is gone.
    bool write(const void* data, std::size_t size);
    // What is waiting at the far end, up to max bytes: the count, 0 when
    // nothing waits, -1 when the line is gone.
    std::ptrdiff_t read(void* data, std::size_t max);
    // Waits up to timeoutMs for bytes at the far end; true when some wait.
    bool waitReadable(int timeoutMs);

    // Bytes written at the far end that no program has read from the near end
    // yet, and discarding them. A closed serial port loses what arrives while
    // it is closed; a pseudo-terminal would keep it for the next program.
    std::size_t waitingAtNearEnd() const;
    void discardWaitingAtNearEnd();
    // Lifts the exclusive use that a serial library claims on open (TIOCEXCL)
    // and a crashed program leaves behind: with the near end kept open here,
    // no last close ever lifts it, and nobody but root could open the line again.
    void releaseExclusiveUse();

    // Closes the far end: the program on the near end sees the line vanish.
    void closeFarEnd();

private:
    PseudoTerminal(int far, int nearKeep, std::string path);

    int m_far = -1;
    int m_nearKeep = -1;  // keeps the line up while no program has the near end open
    std::string m_path;
};

}  // namespace quorvid::sim
