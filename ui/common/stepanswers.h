// The instruction line and the answers to it, Measure / Skip / Abort, the
// same in every dialog that runs a plan: a person asked to set a reference
// reads it here and answers with a button; otherwise the line says what the
// run is doing, or why it cannot start.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace quorvid {

namespace evaluate {
class OperatorReferenceSetter;
}

class StepAnswers : public QObject {
    Q_OBJECT

public:
    // The line and a row of buttons at the end of LAYOUT, OWNER's widgets;
    // the buttons are disabled until an instruction asks for an answer.
    StepAnswers(QWidget* owner, QBoxLayout* layout);

    void say(const QString& text);
    void clear();
    QString text() const;

    // PERSON's instructions are shown, in WORDS when given, with the buttons
    // enabled and Measure in focus; a button pressed disables them and is
    // PERSON's answer.
    void follow(evaluate::OperatorReferenceSetter* person, std::function<QString(const QString&)> words = {});
    // No answer is asked for any more (the run has ended).
    void stopAsking();

private:
    void setAsking(bool asking);

    QLabel* m_instruction = nullptr;
    QPushButton* m_measure = nullptr;
    QPushButton* m_skip = nullptr;
    QPushButton* m_abortStep = nullptr;
};

}  // namespace quorvid
