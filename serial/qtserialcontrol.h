// The serial control over a real port, with Qt SerialPort.
//
// Port numbers become devices through the port map (portnames.h), read at
// every open. Received bytes are kept without limit: the receive buffer size
// is configuration the program writes, never a reason to drop a byte. The
// receive event is raised from Qt's read notification, i.e. on the thread that
// owns the control, between other events.
//
// A port that vanishes while open (adapter pulled, far end of a
// pseudo-terminal closed, read or resource errors) is closed and reported
// once through portLost, after the event in which it was noticed.
#pragma once

#include "serialcontrol.h"

#include <QSerialPort>
#include <QTimer>

namespace quorvid {

class QtSerialControl : public SerialControl {
    Q_OBJECT

public:
    explicit QtSerialControl(QObject* parent = nullptr);
    ~QtSerialControl() override;

    int inBufferCount() const override;
    QByteArray input() override;
    CommResult output(const QByteArray& data) override;
    QString deviceName(int port) const override;

    // The device of the open port; empty while closed.
    QString openDevicePath() const;

    // Opens this device at every open from now on, whatever the port number,
    // which then only names it in messages ("COM2"); for a program that runs
    // several ports named by their devices. Empty: the port map, as before.
    void setDevicePath(const QString& device) { m_devicePath = device; }

    // 0 (the default): the receive event follows every arrival of bytes, as
    // the window needs. N > 0: the port is read at most every N ms, as a USB
    // adapter's latency timer does: after the first byte the rest gathers in
    // the system's buffer until the read, so a program that needs no faster
    // reaction is woken a few times a period instead of for every frame. No
    // byte is lost or reordered; a lost port is noticed at the next read.
    int receiveInterval() const { return m_receiveInterval; }
    void setReceiveInterval(int milliseconds);
    // Hands over now whatever waits to be read, as the end of an interval
    // does: for a program about to close the port.
    void readWaiting();

protected:
    bool isDeviceOpen() const override;
    CommResult openDevice() override;
    CommResult closeDevice() override;

private:
    void onError(QSerialPort::SerialPortError error);
    void onReadyRead();
    // The read at the end of a gathering interval.
    void readGathered();
    CommResult failure(CommError error, const QString& what) const;
    void assertModemLines();

    QSerialPort m_port;
    QString m_device;            // what the open port stands for
    QString m_devicePath;        // setDevicePath's
    quint64 m_opening = 0;       // counts opens, so a stale loss is not reported on a newer one
    bool m_quiet = false;        // errors are expected (opening, closing, optional line controls)
    bool m_losing = false;       // the port is gone; the close is under way
    CommResult m_lossReason;
    int m_receiveInterval = 0;
    QTimer m_gather;            // single-shot: the end of the gathering interval
    bool m_atReadPoint = false; // inside readGathered: Qt's own readyRead is ours already
};

}  // namespace quorvid
