#include "stepanswers.h"

#include "reference.h"

#include <QBoxLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quorvid {

using evaluate::OperatorReferenceSetter;

StepAnswers::StepAnswers(QWidget* owner, QBoxLayout* layout)
    : QObject(owner)
{
    m_instruction = new QLabel(owner);
    m_instruction->setObjectName(QStringLiteral("instruction"));
    m_instruction->setWordWrap(true);
    // Instructions come from plan files and reasons from the system: shown
    // as written, never as markup.
    m_instruction->setTextFormat(Qt::PlainText);
    layout->addWidget(m_instruction);
    auto* answers = new QHBoxLayout;
    m_measure = new QPushButton(QStringLiteral("&Measure"), owner);
    m_measure->setObjectName(QStringLiteral("measure"));
    m_skip = new QPushButton(QStringLiteral("S&kip"), owner);
    m_skip->setObjectName(QStringLiteral("skip"));
    m_abortStep = new QPushButton(QStringLiteral("Abor&t"), owner);
    m_abortStep->setObjectName(QStringLiteral("abortStep"));
    for (QPushButton* b : {m_measure, m_skip, m_abortStep}) {
        b->setEnabled(false);
        answers->addWidget(b);
    }
    answers->addStretch();
    layout->addLayout(answers);
}

void StepAnswers::say(const QString& text) { m_instruction->setText(text); }

void StepAnswers::clear() { m_instruction->clear(); }

QString StepAnswers::text() const { return m_instruction->text(); }

void StepAnswers::setAsking(bool asking)
{
    for (QPushButton* b : {m_measure, m_skip, m_abortStep}) b->setEnabled(asking);
}

void StepAnswers::stopAsking() { setAsking(false); }

void StepAnswers::follow(OperatorReferenceSetter* person, std::function<QString(const QString&)> words)
{
    connect(person, &OperatorReferenceSetter::instructionShown, this, [this, words = std::move(words)](const QString& text) {
        m_instruction->setText(words ? words(text) : text);
        setAsking(true);
        m_measure->setFocus();
    });
    connect(m_measure, &QPushButton::clicked, person, [this, person] { setAsking(false); person->measure(); });
    connect(m_skip, &QPushButton::clicked, person, [this, person] { setAsking(false); person->skip(); });
    connect(m_abortStep, &QPushButton::clicked, person, [this, person] { setAsking(false); person->abort(); });
}

}  // namespace quorvid
