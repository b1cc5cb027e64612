// A scripted serial control for tests, benchmarks and the fuzzer: the test says
// which ports open, which refuse to close, and hands over received bytes in the
// blocks and events it chooses. Everything the program does to the control is
// kept in a journal.
#pragma once

#include "serialcontrol.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

namespace quorvid {

class FakeSerialControl : public SerialControl {
    Q_OBJECT

public:
    // The configuration in force at each successful open.
    struct OpenRecord {
        int port = 0;
        QString settings;
        int inputMode = 0, rThreshold = 0, sThreshold = 0, inBufferSize = 0, outBufferSize = 0;
        friend bool operator==(const OpenRecord&, const OpenRecord&) = default;
    };

    explicit FakeSerialControl(QObject* parent = nullptr);

    // Ports 1..8 that open; all others fail as ports that do not exist.
    void setOpenablePorts(const QSet<int>& ports) { m_openable = ports; }
    // This port opens, but closing it is refused.
    void setCloseFails(int port, bool fails = true);
    // This port exists but another program holds it.
    void setBusy(int port, bool busy = true);

    // Queues a block that one call of input() hands over whole, then raises
    // the receive event as the real control does.
    void deliver(const QByteArray& block);
    // Queues blocks without raising an event.
    void queue(const QByteArray& block);
    // Raises the control's event with any code.
    void raise(int event) { raiseComm(event); }
    // The device vanishes under the program.
    void lose(const QString& reason);

    int inBufferCount() const override;
    QByteArray input() override;
    CommResult output(const QByteArray& data) override;
    QString deviceName(int port) const override;

    // "open 3", "open 4 failed", "close 3", "close 5 failed", "write 53", "input 3"
    const QStringList& journal() const { return m_journal; }
    void clearJournal() { m_journal.clear(); m_written.clear(); m_opens.clear(); }
    QByteArray written() const { return m_written; }
    const QList<OpenRecord>& opens() const { return m_opens; }
    int openPort() const { return m_openPort; }

protected:
    bool isDeviceOpen() const override { return m_openPort != 0; }
    CommResult openDevice() override;
    CommResult closeDevice() override;

private:
    QSet<int> m_openable;
    QSet<int> m_closeFails;
    QSet<int> m_busy;
    int m_openPort = 0;
    QList<QByteArray> m_pending;
    qsizetype m_pendingBytes = 0;
    QStringList m_journal;
    QByteArray m_written;
    QList<OpenRecord> m_opens;
};

}  // namespace quorvid
