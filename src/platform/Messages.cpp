#include "Messages.h"

#include <QString>

#include "MessageBox.h"
#include "OpResult.h"
#include "ServerWords.h"

namespace {
void Stop(QWidget* owner, const char* text, const char* caption) {
    MessageBox(owner, QString::fromLatin1(text), QString::fromLatin1(caption), MB_OK | MB_ICONHAND);
}

bool Ask(QWidget* owner, const char* text, const char* caption) {
    return MessageBox(owner, QString::fromLatin1(text), QString::fromLatin1(caption),
                      MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
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
    return core::ExplainServerWords(words);
}

void ReportRenameError(QWidget* owner) {
    Stop(owner,
         "An invalid filename was entered, or a file with the name you specified already exists.",
         "Error Renaming File");
}

void ReportDeleteFileError(QWidget* owner) {
    Stop(owner, "The program was unable to delete the specified file(s).", "Error Deleting File");
}

void ReportOpError(QWidget* owner, const core::OpResult& result) {
    if (result.Ok())
        return;
    switch (result.op) {
    case core::FileOp::CreateFolder:
        ReportCreateDirectoryError(owner);
        return;
    case core::FileOp::Rename:
        ReportRenameError(owner);
        return;
    case core::FileOp::DeleteFile:
        ReportDeleteFileError(owner);
        return;
    case core::FileOp::DeleteFolder:
        if (result.detail.isEmpty())
            ReportDeleteFolderError(owner);
        else
            ReportDeleteFolderError(owner, result.detail);
        return;
    }
}

bool ConfirmFileCopy(QWidget* owner) {
    return Ask(owner, "Are you sure you want to copy the selected item(s)?", "Confirm File Copy");
}

bool ConfirmFileDelete(QWidget* owner) {
    return Ask(owner, "Are you sure you want to delete the selected item(s)?",
               "Confirm File Delete");
}
