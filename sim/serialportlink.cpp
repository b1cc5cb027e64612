// The board on a real serial device, for a null-modem cable to another machine.
#include "boardlink.h"

#include <QSerialPort>

namespace quorvid::sim {

namespace {

class SerialPortLink final : public BoardLink {
public:
    SerialPortLink()
    {
        connect(&m_port, &QSerialPort::readyRead, this, [this] { emit commandBytes(m_port.readAll()); });
        connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ResourceError) {
                const QString reason = m_port.errorString();
                m_port.close();
                emit failed(reason);
            }
        });
    }

    bool open(const QString& device, QString* error)
    {
        m_port.setPortName(device);
        const bool ok = m_port.open(QIODevice::ReadWrite) && m_port.setBaudRate(QSerialPort::Baud9600)
                        && m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity)
                        && m_port.setStopBits(QSerialPort::OneStop)
                        && m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!ok && error) *error = m_port.errorString();
        return ok;
    }

    bool writeFrame(Bytes frame) override
    {
        if (frame.empty()) return true;
        if (!m_port.isOpen()) return false;
        const auto size = static_cast<qint64>(frame.size());
        const bool ok = m_port.write(reinterpret_cast<const char*>(frame.data()), size) == size;
        // Hand it to the driver now rather than on the next turn of the event
        // loop, so the frame leaves when it is due.
        m_port.flush();
        return ok;
    }

private:
    QSerialPort m_port;
};

}  // namespace

std::unique_ptr<BoardLink> openSerialPortLink(const QString& device, QString* error)
{
    auto link = std::make_unique<SerialPortLink>();
    if (!link->open(device, error)) return nullptr;
    return link;
}

}  // namespace quorvid::sim
