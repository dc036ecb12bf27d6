// The FTP list pane with a huge folder: filled from a listing the tree has just
// read, and sorted again from the Sort By menu.
#include <QTest>

#include "Await.h"
#include "AppFixture.h"
#include "FtpSite.h"
#include "ListModel.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "StallCases.h"
#include "VelmarApp.h"

namespace stall {

std::vector<DirEntry> HugeListing(int entries) {
    const char* const exts[] = {"txt", "jpg", "tar.gz", "c", "", "html"};
    std::vector<DirEntry> listing;
    listing.reserve(std::size_t(entries));
    for (int i = 0; i < entries; ++i) {
        DirEntry e;
        // Names, sizes and times each in an order of their own.
        e.name = QStringLiteral("Remote%1.%2")
                     .arg(int((std::int64_t(i) * 7919) % entries), 7, 10, QLatin1Char('0'))
                     .arg(QLatin1String(exts[i % 6]));
        e.attributes = i % 100 == 0 ? DirEntry::kFolder : 0;
        e.size = std::uint64_t((std::int64_t(i) * 104729) % entries) * 4099;
        e.lastWriteTime = 900000000 + std::int64_t((i * 15485863LL) % entries) * 61;
        listing.push_back(e);
    }
    return listing;
}

bool RowsShown(CMyListView* list, std::size_t entries) {
    const bool in = QTest::qWaitFor([&] { return !list->Model()->Filling(); }, 120000);
    // The rows painted once, as the user sees them.
    QTest::qWait(20);
    return in && list->ItemCount() == int(entries);
}

QString OrderError(const CMyListView* list, ListSort sort) {
    const std::vector<ListRow> want = BuildListRows(list->m_entries, sort, 0, 0);
    if (int(want.size()) != list->ItemCount())
        return QStringLiteral("%1 rows shown of %2").arg(list->ItemCount()).arg(want.size());
    for (int r = 0; r < list->ItemCount(); ++r)
        if (list->Model()->Row(r).entry != want[std::size_t(r)].entry)
            return QStringLiteral("row %1 out of order").arg(r);
    return QString();
}

namespace {
Outcome Checked(Outcome out, const CMyListView* list, ListSort sort) {
    const QString error = OrderError(list, sort);
    out.done = out.done && error.isEmpty();
    out.detail = error;
    return out;
}
} // namespace

std::vector<Outcome> HugeList(const Sizes& sizes) {
    const QString fill = QStringLiteral("%1-entry FTP list filled").arg(sizes.listRows);
    const QString resort = QStringLiteral("%1-entry FTP list sorted by size").arg(sizes.listRows);
    AppFixture f;
    f.SetProfile(QStringLiteral("127.0.0.1:1"), QStringLiteral("nobody"), QStringLiteral("x"));
    CMyListView* list = f.Start() ? f.FtpList() : nullptr;
    if (!list)
        return {Outcome{fill, false, "no window"}, Outcome{resort, false, "not run"}};
    // The reading is the tree's work, measured by the listing case.
    f.App().Site().SetListing(HugeListing(sizes.listRows));
    const std::size_t n = f.App().Site().Listing().size();
    list->m_skipFtpRead = 1;
    Outcome filled = Measure(fill, [&] {
        Await(list->Populate(QStringLiteral("/")));
        return RowsShown(list, n);
    });
    filled = Checked(filled, list, ListSort::Name);
    Outcome sorted = Measure(resort, [&] {
        f.Frame()->OnSortBy(ID_SORT_SIZE);
        return RowsShown(list, n);
    });
    return {filled, Checked(sorted, list, ListSort::Size)};
}

} // namespace stall
