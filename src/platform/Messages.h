#pragma once

class QWidget;

// The message boxes that several panes and the transfer engine show alike, so
// that each text and caption stands in one place.
void ReportCopyFileError(QWidget* owner);        // "Error Copying File"
void ReportSameFolder(QWidget* owner);           // "Error Copying Folder"
void ReportCreateDirectoryError(QWidget* owner); // "Error Creating Directory"
void ReportDeleteFolderError(QWidget* owner);    // "Error Deleting Folder"
void ReportRenameError(QWidget* owner);          // "Error Renaming File"
// The two questions; true when the user chose OK.
bool ConfirmFileCopy(QWidget* owner);
bool ConfirmFileDelete(QWidget* owner);
