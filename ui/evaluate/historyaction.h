// Evaluate > History...: the window's front end over evaluate/'s history. It
// summarises a folder of evaluations (the dialog's work folder) into
// FOLDER-history.json, .csv and .html beside it, or, when the run dialogs name
// a results store, that store's runs into FOLDER-results-history.*, reading
// away from the window's thread with a progress dialog, and opens the page in
// the desktop's browser.
#pragma once

#include "resultsstore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

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

    // The store the run dialogs remember (Results store), when it is one to
    // read: not empty (the default store) and not none.
    static std::optional<quorvid::store::StoreAddress> windowStore();

    // Summarises folder, or the store FROM when given, its summary beside the
    // folder; false at once when a summary is already being made.
    bool run(const QString& folder, const std::optional<quorvid::store::StoreAddress>& from = std::nullopt);
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
