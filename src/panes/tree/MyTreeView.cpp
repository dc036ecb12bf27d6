#include "MyTreeView.h"

#include "FrameBase.h"
#include "MyListView.h"
#include "VelmarDoc.h"

CMyTreeView::CMyTreeView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc), m_frame(frame) {}

CMyTreeView::~CMyTreeView() = default;

void CMyTreeView::OnInitialUpdate() {
    m_side = m_doc->m_treePaneCounter++;
    m_listView = qobject_cast<CMyListView*>(m_frame->GetPane(m_side, 1));
    BuildTree();
}

bool CMyTreeView::BuildTree() { return true; }
void CMyTreeView::SelectStartItem() {}
void CMyTreeView::ShowSelectionInList() {}
