#pragma once

#include <QString>
#include <atomic>

#include "FtpTreeDelete.h"
#include "OpResult.h"

namespace core {

// Deletes a local folder with everything in it. A folder that is itself a link
// goes as a link, and so does every link inside: what a link points to may lie
// anywhere outside the folder. A folder whose name begins with "." is kept; the
// folder holding it then cannot be removed, and that is reported. The first
// failure ends the walk: a file that cannot be deleted as a DeleteFile result,
// a folder that cannot be removed as a DeleteFolder one, with the system's
// words. The stop request of the calling thread is looked at before every
// entry; a stopped walk reports what it deleted and what is left.
OpResult DeleteLocalTreeNow(const QString& path, const DeleteProgress& progress = {});

// The same with cancel as its stop request.
OpResult DeleteLocalTree(const QString& path, const std::atomic<int>* cancel = nullptr,
                         DeleteProgress progress = {});

} // namespace core
