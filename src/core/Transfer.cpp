// The transfer's ties to its view: texts, progress and errors handed to the
// interface thread, and the cancel checks every operation shares.
#include "Transfer.h"

#include "Job.h"
#include "ProgressText.h"
#include "TransferPaths.h"

namespace core {

Transfer::Transfer(FtpSite* site, TransferView& view, const std::atomic<int>& cancel)
    : m_site(site), m_view(view), m_cancel(cancel) {}

Transfer::~Transfer() = default;

void Transfer::Post(std::function<void()> fn) {
    if (OnUiThread()) {
        fn();
        return;
    }
    PostToUi([alive = std::weak_ptr<int>(m_alive), fn = std::move(fn)] {
        if (alive.lock())
            fn();
    });
}

void Transfer::Call(const std::function<void()>& fn) {
    CallOnUi(fn);
}

void Transfer::Fail(TransferError error) {
    // What was set before the failure is on the screen before the message.
    Call([this, &error] {
        FlushTexts();
        m_view.Failed(error);
    });
}

void Transfer::ShowCancelled() {
    Fail({TransferError::Kind::Cancelled, {}, {}, {}});
}

void Transfer::ShowLine(StatusLine line, const QString& text) {
    if (OnUiThread()) {
        m_view.ShowLine(line, text);
        return;
    }
    QueueText([&] { m_texts.insert(static_cast<int>(line), text); });
}

void Transfer::ShowStatus(const QString& text) {
    if (OnUiThread()) {
        m_view.ShowStatus(text);
        return;
    }
    QueueText([&] { m_statusTexts.push_back(text); });
}

void Transfer::QueueText(const std::function<void()>& store) {
    std::lock_guard lock(m_textMutex);
    store();
    if (m_textsPosted)
        return;
    m_textsPosted = true;
    Post([this] { FlushTexts(); });
}

void Transfer::FlushTexts() {
    QHash<int, QString> texts;
    QStringList statusTexts;
    {
        std::lock_guard lock(m_textMutex);
        texts.swap(m_texts);
        statusTexts.swap(m_statusTexts);
        m_textsPosted = false;
    }
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        m_view.ShowLine(static_cast<StatusLine>(it.key()), it.value());
    for (const QString& text : statusTexts)
        m_view.ShowStatus(text);
}

void Transfer::ShowTransferControls() {
    Post([this] { m_view.RevealTransferControls(); });
}

bool Transfer::UpdateProgress(std::uint64_t blockIndex, std::uint64_t totalLength) {
    const int position = progress::Position(blockIndex, totalLength);
    Post([this, position] { m_view.ShowProgress(position); });
    return CheckCancel();
}

bool Transfer::CheckCancel() {
    m_lastPump = Clock::now();
    if (m_cancel) {
        ShowCancelled();
        return false;
    }
    return true;
}

void Transfer::ReportCopyError() {
    // After Cancel, the server commands that the stop request cut short come back
    // as plain failures: the user is told what they did, not that the copy broke.
    if (m_cancel) {
        ShowCancelled();
        return;
    }
    Fail({TransferError::Kind::CopyFile, {}, {}, {}});
}

void Transfer::ReportCopyError(const std::exception& error) {
    if (m_cancel) {
        ShowCancelled();
        return;
    }
    Fail({TransferError::Kind::CopyFile, {}, {}, QString::fromLocal8Bit(error.what())});
}

void Transfer::ReportConnectError() {
    Fail({TransferError::Kind::Connect, {}, {}, {}});
}

bool Transfer::CheckFolderNotInside(const QString& source, const QString& destination) {
    if (!transferpaths::IsSameOrInside(source, destination))
        return true;
    Fail({TransferError::Kind::SameFolder, destination, {}, {}});
    return false;
}

} // namespace core
