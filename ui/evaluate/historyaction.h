// Evaluate > History...: the window's front end over evaluate/'s history. It
// summarises a folder of evaluations (the dialog's work folder) into
// FOLDER-history.json, .csv and .html beside it, reading the reports away
// from the window's thread with a progress dialog, and opens the page in the
// desktop's browser.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QProgressDialog;
class QThread;
class QTimer;
class QWidget;

class HistoryAction : public QObject {
    Q_OBJECT

public:
    explicit HistoryAction(QWidget* parent);
    ~HistoryAction() override;

    // What opens the page; QDesktopServices::openUrl unless a test gives its own.
    using Opener = std::function<bool(const QUrl&)>;
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    // Whether to say what went wrong in a message box (tests hear finished()).
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // The summary's name for a folder: "a/evaluations" gives "a/evaluations-history".
    static QString summaryName(const QString& folder);

    // Summarises folder; false at once when a summary is already being made.
    bool run(const QString& folder);
    bool running() const { return m_running; }

signals:
    // The page written and opened, or error saying why not.
    void finished(const QString& page, const QString& error);

private:
    void done(const QString& page, const QString& error);

    QWidget* m_parent;
    Opener m_opener;
    bool m_quiet = false;
    bool m_running = false;
    QPointer<QProgressDialog> m_progress;
    QPointer<QThread> m_worker;
    QTimer* m_tick = nullptr;
};
