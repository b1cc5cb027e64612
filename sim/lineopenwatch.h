// Tells when a program opens the line's near end, so that a replay can start
// when somebody listens rather than when the board starts.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace quorvid::sim {

class LineOpenWatch : public QObject {
    Q_OBJECT
public:
    // Watches the device at path (a pseudo-terminal's near end). Null with
    // the reason in error where the system cannot tell.
    static std::unique_ptr<LineOpenWatch> create(const QString& path, QString* error);
    ~LineOpenWatch() override;

signals:
    // A program opened the device (emitted for every open).
    void opened();

protected:
    LineOpenWatch() = default;
};

}  // namespace quorvid::sim
