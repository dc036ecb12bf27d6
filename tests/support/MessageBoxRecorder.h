#pragma once

#include <QList>
#include <QString>
#include <deque>

#include "MessageBox.h"

// Answers the program's message boxes in a test and keeps every call. Answers are
// taken from the queue in order; when it is empty, a box is answered with its
// first button (OK or Yes).
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    void Answer(int id) { m_answers.push_back(id); }
    const QList<MessageBoxCall>& Calls() const { return m_calls; }
    int Count() const { return static_cast<int>(m_calls.size()); }
    int CountCaption(const QString& caption) const;
    QStringList Captions() const;
    void Clear() { m_calls.clear(); }

private:
    QList<MessageBoxCall> m_calls;
    std::deque<int> m_answers;
    MessageBoxHandler m_previous;
};
