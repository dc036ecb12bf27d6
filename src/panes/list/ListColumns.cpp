#include "ListColumns.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <algorithm>

#include "ListItems.h"
#include "ListModel.h"
#include "MyListView.h"
#include "Registry.h"
#include "VelmarApp.h"

namespace {
// The cell's margins and the gap before the column's edge, as the style draws
// them; a few pixels more than needed is better than "1,500,0...".
constexpr int kCellPadding = 16;
// The user's drag on a column edge sends many resizes; the settings are written
// once the hand rests.
constexpr int kSaveDelayMs = 400;
constexpr int kMinWidth = 20;
constexpr int kMaxWidth = 2000;

bool ReadWidth(CRegKey& key, const QString& name, int* width) {
    qint32 value = 0;
    if (!key.QueryDword(name, &value) || value < kMinWidth || value > kMaxWidth)
        return false; // missing or damaged: the default stands
    *width = value;
    return true;
}
} // namespace

QString ListColumns::ValueName(int side, int column) {
    return QString::fromLatin1(side == 0 ? "Local" : "Ftp") +
           QString::fromLatin1(column == CListModel::ColSize ? "SizeWidth" : "ModifiedWidth");
}

ListColumns::ListColumns(CMyListView* list, int side) : QObject(list), m_list(list), m_side(side) {
    setObjectName(QStringLiteral("listColumns"));
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &ListColumns::Save);
    CRegKey key;
    if (key.Open(QString::fromLatin1(CVelmarApp::kRegistryKey))) {
        for (int c : {CListModel::ColSize, CListModel::ColModified})
            ReadWidth(key, ValueName(side, c), &m_userWidth[c]);
        key.Close();
    }
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(kMinWidth);
    header->setSectionResizeMode(CListModel::ColName, QHeaderView::Stretch);
    for (int c : {CListModel::ColSize, CListModel::ColModified}) {
        header->setSectionResizeMode(c, QHeaderView::Interactive);
        SetWidth(c, m_userWidth[c]);
    }
    connect(header, &QHeaderView::sectionResized, this, &ListColumns::OnSectionResized);
}

void ListColumns::Install(CMyListView* list, int side) {
    if (auto* old = list->findChild<ListColumns*>(QString(), Qt::FindDirectChildrenOnly))
        delete old;
    new ListColumns(list, side);
}

void ListColumns::SetWidth(int column, int width) {
    m_adjusting = true;
    m_list->header()->resizeSection(column, width);
    m_adjusting = false;
}

void ListColumns::OnSectionResized(int column, int, int newWidth) {
    if (m_adjusting || column == CListModel::ColName)
        return;
    m_userWidth[column] = std::clamp(newWidth, kMinWidth, kMaxWidth);
    m_saveTimer.start();
}

void ListColumns::Save() {
    CRegKey key;
    // The settings are the program's own; a failure to keep a column width is
    // not worth a message box, the width simply starts at its default next time.
    if (!key.Open(QString::fromLatin1(CVelmarApp::kRegistryKey)))
        return;
    for (int c : {CListModel::ColSize, CListModel::ColModified})
        key.SetDword(ValueName(m_side, c), m_userWidth[c]);
    key.Close();
}

int ListColumns::WidthForSize(const CMyListView* list, std::uint64_t largest) {
    // Digits differ in width in some fonts: the widest digit stands for each.
    QString text = FormatListSize(largest);
    int widest = 0;
    QChar wide = QLatin1Char('0');
    const QFontMetrics metrics(list->font());
    for (char d = '0'; d <= '9'; ++d)
        if (const int w = metrics.horizontalAdvance(QLatin1Char(d)); w > widest) {
            widest = w;
            wide = QLatin1Char(d);
        }
    for (QChar& c : text)
        if (c.isDigit())
            c = wide;
    return metrics.horizontalAdvance(text) + kCellPadding;
}

void ListColumns::Fit(CMyListView* list) {
    auto* self = list->findChild<ListColumns*>(QString(), Qt::FindDirectChildrenOnly);
    if (!self)
        return;
    // The model knows its largest size from the build: a million rows are not
    // walked here.
    const CListModel* model = list->Model();
    const bool anyFile = model->HasFiles();
    const std::uint64_t largest = model->LargestFileSize();
    const int needed = anyFile ? WidthForSize(list, largest) : 0;
    self->SetWidth(CListModel::ColSize, std::max(self->m_userWidth[CListModel::ColSize], needed));
}
