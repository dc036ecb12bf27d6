#pragma once

#include <QString>

#include "Task.h"

class CCommStatusDlg;
class CVelmarApp;
class QWidget;
namespace core {
struct OpResult;
}

// Why a reading of an FTP folder failed.
struct FtpReadFailure {
    QString reason; // the words to show
    // The connection to the server was lost and could not be made again: the
    // failure says nothing about the folder itself.
    bool connectionLost = false;
};

// Reads an FTP folder over the main connection into the application's shared
// listing: enters path (none: the folder the connection is in), then lists it.
// False when the server refuses the folder, the listing fails or the connection
// is lost; the shared listing is then empty and failure tells why. A refused
// folder must never show the folder the connection was in before.
core::Task<bool> ReadFtpFolderListing(CCommStatusDlg& dlg, CVelmarApp& app, QString path,
                                      FtpReadFailure& failure);

// Shows why folder could not be read. A lost connection shows the connection-lost
// message instead (with why it could not be made again), once: the FTP side is
// unavailable from then on, until a Refresh connects again, and later failures of
// it show nothing more.
void ReportFtpReadFailure(QWidget* owner, CVelmarApp& app, const QString& folder,
                          const FtpReadFailure& failure);

// The same for a lost connection met by a create, rename or delete (with why,
// or a tree delete's account of what is left). True when result is such a
// loss; other results are left to the caller.
bool ReportIfConnectionLost(QWidget* owner, CVelmarApp& app, const core::OpResult& result);
