// The board's end of a serial line: a pseudo-terminal's far end, or a real
// serial device. The server writes whole frames and hears command bytes.
#pragma once

#include "frames.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace quorvid::sim {

class BoardLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Puts one frame on the line in one write, as a board's UART would hand
    // it over. False when the line refused it; the frame is then lost, as it
    // would be on a wire with nobody listening.
    virtual bool writeFrame(Bytes frame) = 0;

signals:
    void commandBytes(const QByteArray& bytes);
    // The line is gone for good (a serial device unplugged).
    void failed(const QString& reason);
};

// A new pseudo-terminal; nearEnd receives the path a program opens as its
// serial port. Null with the reason in error where the platform has none.
std::unique_ptr<BoardLink> openPseudoTerminalLink(QString* nearEnd, QString* error);

// An existing serial device at 9600 baud, 8N1, no flow control; null with the
// reason in error when it cannot be opened.
std::unique_ptr<BoardLink> openSerialPortLink(const QString& device, QString* error);

}  // namespace quorvid::sim
