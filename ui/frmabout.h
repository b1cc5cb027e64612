// The About window: the program's name and version. Modeless, loaded on
// demand by the main window and destroyed when it closes, so that every
// opening loads it afresh.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 382;   // 5730 twips
    static constexpr int kClientHeight = 212;  // 3180 twips

    explicit frmAbout(QWidget* parent = nullptr);

    // "Version 1.0.1" from the application's own version.
    static QString versionText();

public slots:
    void cmdOK_Click();

private:
    // Caption and version; runs once per loading, from the constructor.
    void Form_Load();

    QLabel* m_version = nullptr;
};
