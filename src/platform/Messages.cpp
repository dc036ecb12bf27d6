#include "Messages.h"

#include <QString>

#include "MessageBox.h"

namespace {
void Stop(QWidget* owner, const char* text, const char* caption) {
    MessageBox(owner, QString::fromLatin1(text), QString::fromLatin1(caption), MB_OK | MB_ICONHAND);
}

bool Ask(QWidget* owner, const char* text, const char* caption) {
    return MessageBox(owner, QString::fromLatin1(text), QString::fromLatin1(caption),
                      MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

// The words servers use when a per-address or overall limit refuses a login:
// "421 Too many connections", "530 Sorry, the maximum number of clients ...".
bool IsConnectionLimit(const QString& words) {
    const auto has = [&](const char* s) {
        return words.contains(QLatin1String(s), Qt::CaseInsensitive);
    };
    return has("too many") || (has("maximum") && (has("client") || has("connection"))) ||
           (has("limit") && has("connection"));
}
} // namespace

void ReportCopyFileError(QWidget* owner) {
    Stop(owner, "The program was unable to copy the selected file(s).", "Error Copying File");
}

void ReportSameFolder(QWidget* owner) {
    Stop(owner, "The destination folder is the same as the source folder.", "Error Copying Folder");
}

void ReportCreateDirectoryError(QWidget* owner) {
    Stop(owner, "The program was unable to create the new directory.", "Error Creating Directory");
}

void ReportDeleteFolderError(QWidget* owner) {
    Stop(owner, "The program was unable to delete the specified folder(s).",
         "Error Deleting Folder");
}

void ReportDeleteFolderError(QWidget* owner, const QString& detail) {
    MessageBox(owner,
               QStringLiteral("The program was unable to delete the specified folder(s).\n\n") +
                   detail,
               QStringLiteral("Error Deleting Folder"), MB_OK | MB_ICONHAND);
}

void ReportReadFolderError(QWidget* owner, const QString& folder, const QString& reason) {
    QString text =
        QStringLiteral("The program was unable to read the folder ") + folder + QStringLiteral(".");
    if (!reason.isEmpty())
        text += QStringLiteral("\n\n") + reason;
    MessageBox(owner, text, QStringLiteral("Error Reading Folder"), MB_OK | MB_ICONHAND);
}

QString ExplainServerError(const QString& words) {
    const QString plain = words.trimmed();
    if (!IsConnectionLimit(plain))
        return plain;
    return QStringLiteral("The server refused another connection: it allows no more "
                          "connections from this computer (too many connections).\n") +
           plain;
}

void ReportRenameError(QWidget* owner) {
    Stop(owner,
         "An invalid filename was entered, or a file with the name you specified already exists.",
         "Error Renaming File");
}

bool ConfirmFileCopy(QWidget* owner) {
    return Ask(owner, "Are you sure you want to copy the selected item(s)?", "Confirm File Copy");
}

bool ConfirmFileDelete(QWidget* owner) {
    return Ask(owner, "Are you sure you want to delete the selected item(s)?",
               "Confirm File Delete");
}
