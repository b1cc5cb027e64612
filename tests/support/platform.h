// What a test needs to know of the system it runs on, one file per system:
// the system's own words for a missing file, a command line for its shell,
// the user's Documents folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace quorvid::test {

// QFile's reason for opening a file that is not there, and for creating a
// file in a folder that is not there.
QString noSuchFileText();
QString noSuchFolderText();

// A command line for the shell that runs reference commands (sh -c, cmd /c):
// one that writes LINES into FILE, and what FILE then holds; one that prints
// OUTPUT and exits with STATUS. The lines take no shell syntax.
QString shellCommandWriting(const QStringList& lines, const QString& file);
QByteArray shellLinesWritten(const QStringList& lines);
QString shellCommandFailing(const QString& output, int status);

// The user's Documents folder while the object lives: WANTED where the
// system lets a test move it (Linux, through XDG's user-dirs.dirs), the
// system's own where nothing moves it (Windows' known folder).
class DocumentsFolder {
public:
    explicit DocumentsFolder(const QString& wanted);
    ~DocumentsFolder();
    DocumentsFolder(const DocumentsFolder&) = delete;
    DocumentsFolder& operator=(const DocumentsFolder&) = delete;
    QString path() const { return m_path; }

private:
    struct Restore;
    QString m_path;
    std::unique_ptr<Restore> m_restore;
};

}  // namespace quorvid::test
