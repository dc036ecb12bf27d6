// A paste: items recorded by Ctrl+C (or copied in a file manager) copied into a
// folder of either side, with the status window, by the rules of a drop.
#include "CommScope.h"
#include "MyListView.h"
#include "PaneClipboard.h"

core::Task<bool> CMyListView::CopyClipItems(QList<ClipItem> items, bool sourceFtp,
                                            QString destFolder, bool destIsFtp) {
    CommScope comm(m_frame, App(), CommScope::Operation(sourceFtp, destIsFtp));
    co_return co_await CopyEntries(items, sourceFtp, destFolder, destIsFtp, comm.Dlg());
}
