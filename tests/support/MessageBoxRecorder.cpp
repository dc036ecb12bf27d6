#include "MessageBoxRecorder.h"

#include <QStringList>

MessageBoxRecorder::MessageBoxRecorder() {
    m_previous = SetMessageBoxHandler([this](const MessageBoxCall& call) {
        m_calls.append(call);
        if (!m_answers.empty()) {
            const int id = m_answers.front();
            m_answers.pop_front();
            return id;
        }
        return (call.flags & 0xF) == MB_YESNO ? int(IDYES) : int(IDOK);
    });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHandler(std::move(m_previous)); }

int MessageBoxRecorder::CountCaption(const QString& caption) const {
    int n = 0;
    for (const auto& c : m_calls)
        n += c.caption == caption ? 1 : 0;
    return n;
}

QStringList MessageBoxRecorder::Captions() const {
    QStringList list;
    for (const auto& c : m_calls)
        list << c.caption;
    return list;
}
