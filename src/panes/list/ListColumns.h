#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

class CMyListView;

// The list pane's column widths. "Name" takes whatever width the other two leave
// in the pane; "Size" is never narrower than the largest size it shows; the
// widths the user gives "Size" and "Modified" are kept in the program's settings,
// per pane, and come back at the next start.
class ListColumns : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultSizeWidth = 70;
    static constexpr int kDefaultModifiedWidth = 130;

    // Sets the pane's columns up for its side (0 local, 1 FTP) from the settings.
    static void Install(CMyListView* list, int side);
    // Widens "Size" when a size now shown would not fit; never narrows it below
    // what the user chose.
    static void Fit(CMyListView* list);
    // The width the text of the largest size needs in the list's font.
    static int WidthForSize(const CMyListView* list, std::uint64_t largest);

    // Value names in the settings, e.g. "LocalSizeWidth".
    static QString ValueName(int side, int column);

private:
    ListColumns(CMyListView* list, int side);
    void OnSectionResized(int column, int oldWidth, int newWidth);
    void Save();
    void SetWidth(int column, int width);

    CMyListView* m_list;
    int m_side;
    int m_userWidth[3] = {0, kDefaultSizeWidth, kDefaultModifiedWidth};
    bool m_adjusting = false;
    QTimer m_saveTimer;
};
