#include "MessageBox.h"

#include "Job.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

int RunAcceptBox(QMessageBox& box, const MessageBoxCall& call) {
    QPushButton* once = box.addButton(QStringLiteral("Accept &Once"), QMessageBox::AcceptRole);
    QPushButton* always = box.addButton(QStringLiteral("&Always Accept"), QMessageBox::YesRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton((call.flags & MB_DEFBUTTONLAST) ? cancel : once);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == once)
        return IDACCEPTONCE;
    if (box.clickedButton() == always)
        return IDACCEPTALWAYS;
    return IDCANCEL;
}

int RunRealBox(const MessageBoxCall& call) {
    QMessageBox box(call.owner ? call.owner : QApplication::activeWindow());
    box.setWindowTitle(call.caption);
    box.setText(call.text);
    box.setAccessibleName(call.caption);
    box.setAccessibleDescription(call.text);
    switch (call.flags & 0xF0) {
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        break;
    }
    const unsigned buttons = call.flags & 0xF;
    if (buttons == MB_ACCEPTONCEALWAYSCANCEL)
        return RunAcceptBox(box, call);
    if (buttons == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton((call.flags & MB_DEFBUTTONLAST) ? QMessageBox::Cancel
                                                             : QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (buttons == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton((call.flags & MB_DEFBUTTONLAST) ? QMessageBox::No : QMessageBox::Yes);
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
    if (!core::OnUiThread()) {
        // A job asks or tells on its way: the box is the interface thread's, and
        // the job waits for the answer.
        int answer = IDCANCEL;
        core::CallOnUi([&] { answer = MessageBox(owner, text, caption, flags); });
        return answer;
    }
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
