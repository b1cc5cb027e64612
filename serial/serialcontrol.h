// The serial control as the program sees it: one port at a time, configured
// through properties, read through a receive event.
//
// The configuration properties are kept and checked here, once for every
// implementation; opening, closing, reading and writing are the
// implementation's (the Qt SerialPort control for real ports, a scripted fake
// for tests). A refused operation returns a CommResult that carries the code
// and the system's reason; nothing is refused silently.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <optional>

namespace quorvid {

// Codes of the receive event's CommEvent property.
namespace CommEvent {
inline constexpr int Send = 1;
inline constexpr int Receive = 2;
inline constexpr int Break = 1001;
inline constexpr int Frame = 1004;
inline constexpr int Overrun = 1006;
inline constexpr int RxOver = 1008;
inline constexpr int RxParity = 1009;
}  // namespace CommEvent

enum class CommError {
    None,
    InvalidArgument,  // a property value the control does not accept
    PortOpen,         // not allowed while the port is open
    NotOpen,          // the port is closed
    NoSuchPort,       // nothing behind that port number
    PortBusy,         // another program holds the port
    PermissionDenied,
    Io,               // the system refused a read, write or line setting
};

struct CommResult {
    CommError error = CommError::None;
    QString reason;

    bool ok() const { return error == CommError::None; }
    explicit operator bool() const { return ok(); }

    static CommResult success() { return {}; }
    static CommResult failure(CommError error, QString reason) { return {error, std::move(reason)}; }
};

// "9600,n,8,1": baud rate, parity (n, o, e, m, s), data bits (4 to 8), stop
// bits (1, 1.5, 2).
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<LineSettings> parse(const QString& text);
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

class SerialControl : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxPort = 255;

    explicit SerialControl(QObject* parent = nullptr);
    ~SerialControl() override;

    int commPort() const { return m_commPort; }
    [[nodiscard]] CommResult setCommPort(int port);

    QString settings() const { return m_settings; }
    LineSettings lineSettings() const { return m_lineSettings; }
    [[nodiscard]] CommResult setSettings(const QString& settings);

    // 0 text, 1 binary. Input always hands over the bytes as received.
    int inputMode() const { return m_inputMode; }
    [[nodiscard]] CommResult setInputMode(int mode);

    // Receive event as soon as this many bytes wait; 0 raises none.
    int rThreshold() const { return m_rThreshold; }
    [[nodiscard]] CommResult setRThreshold(int threshold);

    int sThreshold() const { return m_sThreshold; }
    [[nodiscard]] CommResult setSThreshold(int threshold);

    // Only while closed. The receive buffer size is kept as configuration:
    // received bytes are never dropped because of it.
    int inBufferSize() const { return m_inBufferSize; }
    [[nodiscard]] CommResult setInBufferSize(int size);
    int outBufferSize() const { return m_outBufferSize; }
    [[nodiscard]] CommResult setOutBufferSize(int size);

    bool portOpen() const { return isDeviceOpen(); }
    // Opening an open port is refused; closing a closed port does nothing.
    [[nodiscard]] CommResult setPortOpen(bool open);

    // The code of the event being reported, valid inside onComm.
    int commEvent() const { return m_commEvent; }

    virtual int inBufferCount() const = 0;
    // Removes the waiting bytes and returns them.
    virtual QByteArray input() = 0;
    [[nodiscard]] virtual CommResult output(const QByteArray& data) = 0;

    // The device that a port number stands for, for tooltips and messages;
    // empty when the number names no port.
    virtual QString deviceName(int port) const = 0;

signals:
    void onComm();
    // The open port went away under the program (adapter pulled, far end gone).
    // The control has already closed it; it is reported once.
    void portLost(const quorvid::CommResult& reason);

protected:
    virtual bool isDeviceOpen() const = 0;
    virtual CommResult openDevice() = 0;
    virtual CommResult closeDevice() = 0;

    // For implementations: raise the receive event when enough bytes wait.
    void bytesArrived();
    void raiseComm(int event);
    // Closes the port and tells the program, once per opening.
    void reportLost(const CommResult& reason);

private:
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    LineSettings m_lineSettings;
    int m_inputMode = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inBufferSize = 1024;
    int m_outBufferSize = 512;
    int m_commEvent = 0;
    bool m_lostReported = false;
};

QString commErrorName(CommError error);

}  // namespace quorvid

Q_DECLARE_METATYPE(quorvid::CommResult)
