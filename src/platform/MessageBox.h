#pragma once

#include <QString>
#include <functional>

class QWidget;

// Flags and results of the program's message boxes. Every box the program shows
// goes through MessageBox(), so that tests can answer and record them.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    // Accept Once, Always Accept, Cancel: the question about a server's certificate.
    MB_ACCEPTONCEALWAYSCANCEL = 0x7,
    // Connect Once, Connect and Remember, Cancel: the question about an SSH
    // server's host key (answered IDACCEPTONCE, IDACCEPTALWAYS, IDCANCEL).
    MB_CONNECTONCEREMEMBERCANCEL = 0x8,
    MB_ICONHAND = 0x10,
    MB_ICONSTOP = MB_ICONHAND,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONEXCLAMATION = MB_ICONWARNING,
    // The last button (Cancel, No) is the default, for questions whose safe answer is no.
    MB_DEFBUTTONLAST = 0x200,
};

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
    IDACCEPTONCE = 20,
    IDACCEPTALWAYS = 21,
};

struct MessageBoxCall {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    unsigned flags = 0;
};

// A handler answers in place of a person: it receives the call and returns the
// ID of the button "pressed". With no handler installed a real QMessageBox runs.
using MessageBoxHandler = std::function<int(const MessageBoxCall&)>;

int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags);

// Installs a handler and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The program is ending: every box still open is answered as its Escape key
// would answer it (Cancel, No, or OK), and every later call returns that answer
// at once without showing a box or asking a handler. For good: nothing undoes it.
void CloseMessageBoxesForGood();
bool MessageBoxesClosedForGood();
