#pragma once

#include <QString>

class CCommStatusDlg;
class CVelmarApp;

// Reads an FTP folder over the main connection into the application's shared
// listing: enters path (none: the folder the connection is in), then lists it.
// False when the server refuses the folder or the listing fails; the shared
// listing is then empty and reason holds the words to show. A refused folder
// must never show the folder the connection was in before.
bool ReadFtpFolderListing(CCommStatusDlg& dlg, CVelmarApp& app, const QString& path,
                          QString& reason);
