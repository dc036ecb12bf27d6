#include "MyListView.h"

#include "FrameBase.h"
#include "VelmarDoc.h"

CMyListView::CMyListView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent)
    : QTreeView(parent), m_frame(frame), m_doc(doc) {}

CMyListView::~CMyListView() = default;

void CMyListView::OnInitialUpdate() {
    m_editing = m_forceLocal = m_forceFtp = 0;
    m_skipFtpRead = 1;
    m_side = m_doc->m_listPaneCounter++;
}

void CMyListView::Populate(const QString& path) {
    m_path = path;
}
