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

protected:
    bool isDeviceOpen() const override;
    CommResult openDevice() override;
    CommResult closeDevice() override;

private:
    void onError(QSerialPort::SerialPortError error);
    void onReadyRead();
    CommResult failure(CommError error, const QString& what) const;
    void assertModemLines();

    QSerialPort m_port;
    QString m_device;            // what the open port stands for
    quint64 m_opening = 0;       // counts opens, so a stale loss is not reported on a newer one
    bool m_quiet = false;        // errors are expected (opening, closing, optional line controls)
    bool m_losing = false;       // the port is gone; the close is under way
    CommResult m_lossReason;
};

}  // namespace quorvid
