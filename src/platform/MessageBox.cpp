#include "MessageBox.h"

#include "Job.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <vector>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

// The boxes on the screen now (nested ones last), and whether the program is
// ending and no box may wait for an answer any more.
std::vector<QPointer<QMessageBox>>& OpenBoxes() {
    static std::vector<QPointer<QMessageBox>> boxes;
    return boxes;
}
bool g_closedForGood = false;

class OpenBox {
public:
    explicit OpenBox(QMessageBox& box) { OpenBoxes().emplace_back(&box); }
    ~OpenBox() { OpenBoxes().pop_back(); }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;
};

// The answer of the Escape key: Cancel, No, or OK for a box that only tells.
int EscapeAnswer(unsigned flags) {
    switch (flags & 0xF) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

void PressEscape(QMessageBox& box) {
    if (QAbstractButton* escape = box.escapeButton())
        escape->click();
    else
        box.reject();
}

int RunAcceptBox(QMessageBox& box, const MessageBoxCall& call) {
    const bool ssh = (call.flags & 0xF) == MB_CONNECTONCEREMEMBERCANCEL;
    QPushButton* once = box.addButton(ssh ? QStringLiteral("Connect &Once")
                                          : QStringLiteral("Accept &Once"),
                                      QMessageBox::AcceptRole);
    QPushButton* always = box.addButton(ssh ? QStringLiteral("Connect and &Remember")
                                            : QStringLiteral("&Always Accept"),
                                        QMessageBox::YesRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton((call.flags & MB_DEFBUTTONLAST) ? cancel : once);
    box.setEscapeButton(cancel);
    const OpenBox open(box);
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
    if (buttons == MB_ACCEPTONCEALWAYSCANCEL || buttons == MB_CONNECTONCEREMEMBERCANCEL)
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
    const OpenBox open(box);
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
    if (g_closedForGood)
        return EscapeAnswer(flags);
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

void CloseMessageBoxesForGood() {
    if (!core::OnUiThread()) {
        core::CallOnUi(CloseMessageBoxesForGood);
        return;
    }
    g_closedForGood = true;
    // Innermost first: an outer box's answer is acted on only once the inner
    // one has returned.
    const std::vector<QPointer<QMessageBox>> boxes = OpenBoxes();
    for (auto it = boxes.rbegin(); it != boxes.rend(); ++it)
        if (*it)
            PressEscape(**it);
}

bool MessageBoxesClosedForGood() {
    return g_closedForGood;
}
