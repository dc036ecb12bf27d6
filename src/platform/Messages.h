#pragma once

class QWidget;
class QString;

namespace core {
struct OpResult;
}

// The message boxes that several panes and the transfer engine show alike, so
// that each text and caption stands in one place.
void ReportCopyFileError(QWidget* owner);        // "Error Copying File"
void ReportSameFolder(QWidget* owner);           // "Error Copying Folder"
void ReportCreateDirectoryError(QWidget* owner); // "Error Creating Directory"
void ReportDeleteFolderError(QWidget* owner);    // "Error Deleting Folder"
void ReportRenameError(QWidget* owner);          // "Error Renaming File"
void ReportDeleteFileError(QWidget* owner);      // "Error Deleting File"
// The same folder-delete message, followed by what went wrong and what is left.
void ReportDeleteFolderError(QWidget* owner, const QString& detail);
// "Error Reading Folder": a folder that could not be entered or listed, with the
// reason (the server's words, or the system's).
void ReportReadFolderError(QWidget* owner, const QString& folder, const QString& reason);
// The reason to show for a server's or the system's words: a refusal for too many
// connections (421, or 530 saying so) is named as such, the words follow.
QString ExplainServerError(const QString& words);
// The box for a create, rename or delete that did not succeed, by its operation:
// a folder delete with an account of what is left shows that account too. A
// result that succeeded shows nothing.
void ReportOpError(QWidget* owner, const core::OpResult& result);
// The two questions; true when the user chose OK.
bool ConfirmFileCopy(QWidget* owner);
bool ConfirmFileDelete(QWidget* owner);
