#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

int RunRealBox(const MessageBoxCall& call) {
    QMessageBox box(call.owner ? call.owner : QApplication::activeWindow());
    box.setWindowTitle(call.caption);
    box.setText(call.text);
    box.setAccessibleName(call.caption);
    box.setAccessibleDescription(call.text);
    if (call.flags & MB_ICONQUESTION)
        box.setIcon(QMessageBox::Question);
    else if (call.flags & MB_ICONHAND)
        box.setIcon(QMessageBox::Critical);
    const unsigned buttons = call.flags & 0xF;
    if (buttons == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (buttons == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return (buttons == MB_OK) ? IDOK : IDCANCEL;
    }
}
} // namespace

int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
    MessageBoxCall call{owner, text, caption, flags};
    if (Handler())
        return Handler()(call);
    return RunRealBox(call);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler old = std::move(Handler());
    Handler() = std::move(handler);
    return old;
}
