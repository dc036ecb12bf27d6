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
