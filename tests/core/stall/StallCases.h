#pragma once

// The operations whose effect on the interface thread is measured, shared by the
// stall test (small sizes) and the stall benchmark (full sizes). Each sets up
// its servers and files untimed, then runs one operation through the program's
// own entry points with a StallMeter running.
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <vector>

#include "DirEntry.h"

namespace stall {

struct Sizes {
    qint64 fileBytes = 0; // the download and the upload
    int folderFiles = 0;  // the folder copy
    int listingEntries = 0;
    int deleteFiles = 0;   // the FTP tree deleted through the list pane
    int cancelAfterMs = 0; // Cancel pressed this long into a stalled download
    int listRows = 0;      // the FTP list pane filled and sorted again
};
Sizes BenchSizes();
Sizes TestSizes();

// One measured operation.
struct Outcome {
    QString name;
    bool done = false;   // it did what it must (a fault: ended, reported, nothing lost)
    QString detail;      // why not, when it did not
    double stallMs = -1; // the interface thread's longest stall meanwhile
    qint64 operationMs = 0;
};

struct Case {
    const char* name;
    std::function<std::vector<Outcome>(const Sizes&)> run;
};
const std::vector<Case>& Cases();

// A download from a server whose data connection stalls after its first 64 KiB,
// started from the FTP list pane over an older local copy of the file; Cancel
// Communication is clicked once cancelAfterMs have passed, if the copy is still
// running then. Times are from the start of the copy.
struct CancelTimeline {
    Outcome outcome;
    qint64 clickMs = -1;    // the click on Cancel Communication
    qint64 boxMs = -1;      // the first message box
    qint64 answeredMs = -1; // that box answered
    qint64 enabledMs = -1;  // the main window last enabled again
    QStringList captions;
    bool lockedAtClick = false; // the main window was disabled when Cancel was clicked
    bool enabledAtEnd = false;
    bool localKept = false; // the older local copy is as it was
};
CancelTimeline StalledDownload(int cancelAfterMs);

// A listing of that many entries whose names, sizes and times each sort in an
// order of their own, with a folder among every hundred.
std::vector<DirEntry> HugeListing(int entries);

// Runs op with a StallMeter; done is what op returned.
Outcome Measure(const QString& name, const std::function<bool()>& op);

} // namespace stall
