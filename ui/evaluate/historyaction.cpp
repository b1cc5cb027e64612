#include "historyaction.h"

#include "history.h"
#include "rundialog.h"
#include "runsetupform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>

using namespace quorvid::evaluate;

HistoryAction::HistoryAction(QWidget* parent)
    : QObject(parent)
    , m_parent(parent)
    , m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
}

HistoryAction::~HistoryAction()
{
    // The thread writes the summary's files; it ends before the window does.
    if (m_worker) m_worker->wait();
}

QString HistoryAction::summaryName(const QString& folder)
{
    QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return clean + QStringLiteral("-history");
}

std::optional<quorvid::store::StoreAddress> HistoryAction::windowStore()
{
    const QString remembered = quorvid::RunSetupForm::rememberedResultsStore();
    if (remembered.isEmpty()) return std::nullopt;
    QString why;
    const std::optional<quorvid::store::StoreAddress> from = quorvid::store::parseStoreAddress(remembered, &why);
    if (!from || from->kind == quorvid::store::StoreAddress::Kind::None) return std::nullopt;
    return from;
}

bool HistoryAction::run(const QString& folder, const std::optional<quorvid::store::StoreAddress>& from)
{
    if (m_running) return false;
    m_running = true;
    if (from) quorvid::store::loadDrivers();
    m_progress = new QProgressDialog(from ? QStringLiteral("Reading the runs in %1...").arg(from->display())
                                          : QStringLiteral("Reading the evaluations in %1...").arg(QDir::toNativeSeparators(folder)),
                                     QString(), 0, 0, m_parent);
    m_progress->setObjectName(QStringLiteral("historyProgress"));
    m_progress->setWindowTitle(QStringLiteral("History"));
    m_progress->setMinimumDuration(300);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);

    // The reports are read on a thread of their own: a folder of a thousand
    // runs takes a second or two, and the readouts go on meanwhile. The
    // thread touches only this state; the window reads it on its own thread.
    struct State {
        std::atomic<int> done{0}, total{0};
        QString page, error;  // written before the thread ends, read after
    };
    auto state = std::make_shared<State>();
    const QString name = from ? QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) + QStringLiteral("-results-history") : summaryName(folder);
    m_worker = QThread::create([state, folder, name, from] {
        std::optional<History> h =
            from ? quorvid::store::readStoreHistory(*from, {folder, {}, std::nullopt}, &state->error)
                 : readHistory({folder, {}, std::nullopt}, &state->error, [state](int done, int total) {
                       state->total = total;
                       state->done = done;
                   });
        if (h && !writeHistory(*h, name, &state->error)) h.reset();
        if (h) state->page = name + QStringLiteral(".html");
    });
    if (!m_tick) {
        m_tick = new QTimer(this);
        m_tick->setInterval(100);
    }
    m_tick->disconnect();
    connect(m_tick, &QTimer::timeout, this, [this, state] {
        if (!m_progress) return;
        m_progress->setMaximum(state->total);
        m_progress->setValue(state->done);
    });
    m_tick->start();
    connect(m_worker, &QThread::finished, this, [this, state] {
        m_tick->stop();
        done(state->page, state->error);
    });
    connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
    m_worker->start();
    return true;
}

void HistoryAction::done(const QString& page, const QString& error)
{
    m_running = false;
    if (m_progress) m_progress->close();
    QString why = error;
    if (why.isEmpty() && !m_opener(QUrl::fromLocalFile(page)))
        why = QStringLiteral("The summary was written to %1, but no browser could be started to show it.")
                  .arg(QDir::toNativeSeparators(page));
    if (!why.isEmpty() && !m_quiet) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("History"), why, QMessageBox::Ok, m_parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    emit finished(error.isEmpty() ? page : QString(), why);
}
