#include "TreeSupport.h"

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FrameLock.h"
#include "VelmarApp.h"

CommSession::CommSession(CVelmarApp* app, CFrameBase* frame, bool withWindow,
                         const QString& operation)
    : m_app(app), m_frame(frame), m_dlg(std::make_unique<CCommStatusDlg>(frame)) {
    if (withWindow) {
        m_dlg->Create();
        if (!operation.isEmpty())
            m_dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, operation);
    }
    m_lock = std::make_unique<FrameLock>(m_frame);
    m_app->m_commInProgress = 1;
}

CommSession::~CommSession() {
    m_lock.reset();
    m_app->m_commInProgress = 0;
    m_dlg.reset();
}

QString ComparablePath(const QString& path) {
    QString result;
    result.reserve(path.size());
    for (const QChar c : path)
        if (c != QLatin1Char('/') || !result.endsWith(QLatin1Char('/')))
            result += c;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

bool PathsOverlap(const QString& a, const QString& b) {
    const QString x = ComparablePath(a);
    const QString y = ComparablePath(b);
    if (x.isEmpty() || y.isEmpty())
        return false;
    if (x == y || x == QStringLiteral("/") || y == QStringLiteral("/"))
        return true;
    return x.startsWith(y + QLatin1Char('/')) || y.startsWith(x + QLatin1Char('/'));
}

bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}
