#include "trace.h"

#include <QByteArray>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <cstdio>
#include <memory>

namespace quorvid::trace {

namespace {

class Tracer : public QObject {
public:
    explicit Tracer(std::FILE* file) : m_file(file) {}
    ~Tracer() override { std::fclose(m_file); }

    void mark(const char* event)
    {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        std::fprintf(m_file, "%lld %s\n", static_cast<long long>(ns), event);
        // Few lines, and a reader may look while the program runs.
        std::fflush(m_file);
    }

    void watch(QObject* window, QObject* valuesLabel)
    {
        m_label = valuesLabel;
        // The label paints in the window's first paint too; whichever is seen
        // first is the window coming up.
        for (QObject* o : {window, valuesLabel})
            if (o) o->installEventFilter(this);
    }

    void valuesShown()
    {
        m_valuesPending = true;
        if (m_label) QMetaObject::invokeMethod(m_label, "update");
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint) return false;
        if (!m_exposed) {
            m_exposed = true;
            mark("window-exposed");
        }
        if (watched == m_label && m_valuesPending) {
            m_valuesPending = false;
            // Stamped once control is back in the event loop: by then this
            // paint and the rest of the pass are done and flushed to the
            // window system.
            QMetaObject::invokeMethod(this, [this] { mark("values-painted"); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::FILE* m_file;
    QPointer<QObject> m_label;
    bool m_exposed = false;
    bool m_valuesPending = false;
};

Tracer* tracer()
{
    static const std::unique_ptr<Tracer> instance = []() -> std::unique_ptr<Tracer> {
        const QByteArray path = qgetenv("QUORVID_TRACE");
        if (path.isEmpty()) return nullptr;
        // Binary: lines end in \n on Windows too, as the scripts reading it expect.
        std::FILE* file = std::fopen(path.constData(), "ab");
        if (!file) {
            std::fprintf(stderr, "quorvid: cannot append to QUORVID_TRACE file %s\n", path.constData());
            return nullptr;
        }
        return std::make_unique<Tracer>(file);
    }();
    return instance.get();
}

}  // namespace

bool enabled() { return tracer() != nullptr; }

void mark(const char* event)
{
    if (Tracer* t = tracer()) t->mark(event);
}

void watch(QObject* window, QObject* valuesLabel)
{
    if (Tracer* t = tracer()) t->watch(window, valuesLabel);
}

void valuesShown()
{
    if (Tracer* t = tracer()) t->valuesShown();
}

}  // namespace quorvid::trace
