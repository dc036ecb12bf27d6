#pragma once

// The local file operations live in the core now; the panes that name them
// without their namespace keep doing so through this header.
#include "LocalFileOps.h"

using core::CopyLocalFileData;
using core::IsLocalSymLink;
using core::LocalPathExists;
using core::MakeLocalFolder;
using core::RemoveLocalFile;
using core::RemoveLocalFolder;
using core::RenameLocalNoReplace;
