#include "CommStatusDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "CopyChecks.h"
#include "FrameBase.h"
#include "HelpWindow.h"
#include "Job.h"
#include "MessageBox.h"
#include "Messages.h"
#include "PathRules.h"
#include "Registry.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

namespace {
enum class Kind { Static, Button, Progress };

struct ControlSpec {
    int id;
    Kind kind;
    const char* text;
    int x, y, width, height; // dialog units
    bool visible;
    Qt::Alignment align;
    const char* accessibleName;
};

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kCentre = Qt::AlignHCenter | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

// Dialog template 184, in its order.
const ControlSpec kControls[] = {
    {1032, Kind::Static, "", 21, 2, 279, 9, true, kCentre, "Operation"},
    {1054, Kind::Static, "", 15, 13, 291, 8, true, kCentre, "Activity"},
    {1033, Kind::Button, "&Cancel Communication", 113, 27, 94, 17, false, kCentre,
     "Cancel Communication"},
    {1042, Kind::Static, "From:", 2, 50, 18, 9, false, kLeft, "From:"},
    {1045, Kind::Static, "", 24, 50, 297, 9, true, kLeft, "Copying from"},
    {1034, Kind::Static, "", 30, 51, 262, 9, false, kCentre, "Message"},
    {1048, Kind::Static, "To:", 2, 60, 18, 9, false, kLeft, "To:"},
    {1049, Kind::Static, "", 24, 60, 297, 9, true, kLeft, "Copying to"},
    {1043, Kind::Static, "Bytes Copied:", 2, 72, 44, 9, false, kLeft, "Bytes Copied:"},
    {1050, Kind::Static, "", 48, 72, 82, 9, true, kLeft, "Bytes copied"},
    {1044, Kind::Static, "Bytes Per Second:", 131, 72, 60, 9, false, kRight, "Bytes Per Second:"},
    // The rate may use the room up to the next label: loopback and LAN rates run
    // to nine digits, which 22 units cut off.
    {1046, Kind::Static, "", 194, 72, 36, 9, true, kLeft, "Bytes per second"},
    {1051, Kind::Static, "Time (for this file):", 232, 72, 58, 8, false, kRight,
     "Time (for this file):"},
    {1053, Kind::Static, "", 292, 72, 28, 8, true, kLeft, "Time for this file"},
    {1041, Kind::Progress, "", 2, 83, 319, 11, false, kLeft, "Progress of this file"},
    {1047, Kind::Button, "&Hide Program", 40, 100, 61, 17, false, kCentre, "Hide Program"},
    // Added to the template: how long the rest of the file takes at the rate so
    // far, in the free room between the two lower buttons.
    {1067, Kind::Static, "Time Left:", 104, 104, 50, 9, false, kRight, "Time Left:"},
    {1068, Kind::Static, "", 156, 104, 60, 9, true, kLeft, "Time left for this file"},
    {1066, Kind::Button, "H&elp", 220, 100, 61, 17, false, kCentre, "Help"},
    // Below the template, for a batch of several files copied at once: the
    // batch as a whole, and the files under way.
    {1069, Kind::Static, "Files Copied:", 2, 122, 44, 9, false, kLeft, "Files Copied:"},
    {1070, Kind::Static, "", 48, 122, 50, 9, false, kLeft, "Files copied"},
    {1071, Kind::Static, "All Bytes Copied:", 100, 122, 60, 9, false, kRight, "All Bytes Copied:"},
    {1072, Kind::Static, "", 162, 122, 82, 9, false, kLeft, "All bytes copied"},
    {1073, Kind::Static, "All Bytes Per Second:", 2, 132, 72, 9, false, kLeft,
     "All Bytes Per Second:"},
    {1074, Kind::Static, "", 76, 132, 60, 9, false, kLeft, "All bytes per second"},
    {1075, Kind::Static, "Time Left (all files):", 138, 132, 72, 9, false, kRight,
     "Time Left (all files):"},
    {1076, Kind::Static, "", 212, 132, 60, 9, false, kLeft, "Time left for all files"},
    {1077, Kind::Static, "Now Copying:", 2, 142, 44, 9, false, kLeft, "Now Copying:"},
    {1078, Kind::Static, "", 48, 142, 273, 9, false, kLeft, "Files being copied"},
};

constexpr int kClientWidth = 322;
constexpr int kClientHeight = 122;
constexpr int kBatchClientHeight = 154;

// Dialog base units of a font, worked out as the system of the dialog templates
// does: the average width of the 52 letters, and the font's height.
struct BaseUnits {
    int x;
    int y;
    int Width(int dlu) const { return (dlu * x + 2) / 4; }
    int Height(int dlu) const { return (dlu * y + 4) / 8; }
};

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    BaseUnits units{(letters / 26 + 1) / 2, fm.height()};
    // The template was drawn for files of a few megabytes. A bytes-copied line
    // that is cut off shows a wrong total ("of 150000000" for 1.5 GB), so the
    // window grows in width until a file of up to a terabyte fits; the layout
    // keeps its proportions.
    const int needed = fm.horizontalAdvance(QStringLiteral("999999999999 of 999999999999")) + 4;
    while (units.Width(82) < needed)
        ++units.x;
    return units;
}

const QString kCaption = QStringLiteral("Velmar98 Communication Status");
} // namespace

CCommStatusDlg::CCommStatusDlg(QWidget* /*parent*/) : QDialog(nullptr) {
    m_app = AfxGetApp();
    m_mainFrame = m_app ? m_app->m_pMainWnd : nullptr;
    setObjectName(QStringLiteral("184"));
    m_transfer = std::make_unique<core::Transfer>(
        m_app ? &m_app->Site() : nullptr, static_cast<core::TransferView&>(*this), m_cancel);
    // Read for each operation: a change in Options counts from the next copy on.
    if (m_app)
        m_app->Site().SetTransfers(settings::Transfers());
    InstallCertificateQuestion();
}

CCommStatusDlg::~CCommStatusDlg() {
    if (m_watchedFrame)
        m_watchedFrame->removeEventFilter(this);
}

bool CCommStatusDlg::Create() {
    if (m_created)
        return true;
    CWaitCursor wait;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(kCaption);
    setAccessibleName(kCaption);
    setModal(false);
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    BuildControls();
    m_created = true;
    m_cancel = 0;
    if (m_mainFrame) {
        m_watchedFrame = m_mainFrame;
        m_mainFrame->installEventFilter(this);
        const QRect owner = m_mainFrame->frameGeometry();
        move(owner.center() - rect().center());
    }
    show();
    // Owned by the main window as far as the window manager is concerned (kept
    // above it, grouped with it), but not its child, so never disabled with it.
    if (m_mainFrame && m_mainFrame->windowHandle() && windowHandle())
        windowHandle()->setTransientParent(m_mainFrame->windowHandle());
    // What follows runs as a job, so the window is drawn while it works.
    return true;
}

void CCommStatusDlg::BuildControls() {
    const BaseUnits units = BaseUnitsOf(font());
    setFixedSize(units.Width(kClientWidth), units.Height(kClientHeight));
    for (const ControlSpec& spec : kControls) {
        QWidget* widget = nullptr;
        const QString text = QString::fromLatin1(spec.text);
        if (spec.kind == Kind::Button) {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            widget = button;
        } else if (spec.kind == Kind::Progress) {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            widget = bar;
        } else {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText); // file names are never markup
            label->setAlignment(spec.align);
            widget = label;
        }
        widget->setObjectName(QString::number(spec.id));
        widget->setAccessibleName(QString::fromLatin1(spec.accessibleName));
        widget->setGeometry(units.Width(spec.x), units.Height(spec.y), units.Width(spec.width),
                            units.Height(spec.height));
        widget->setVisible(spec.visible);
        m_controls.insert(spec.id, widget);
    }
    auto button = [this](int id) { return static_cast<QPushButton*>(m_controls.value(id)); };
    connect(button(IDC_CANCEL), &QPushButton::clicked, this,
            &CCommStatusDlg::OnCancelCommunication);
    connect(button(IDC_HIDE), &QPushButton::clicked, this, &CCommStatusDlg::OnHideProgram);
    connect(button(IDC_HELP), &QPushButton::clicked, this, &CCommStatusDlg::OnHelp);
}

template <typename Body>
core::Task<bool> CCommStatusDlg::AsJob(Body body) {
    try {
        co_return co_await core::Job(body, &m_cancel);
    } catch (const core::JobBusy&) {
        // The connection serves one operation at a time; a second one started
        // meanwhile (the main window is locked, so only from a timer or a late
        // event) is refused whole, before it has touched anything.
    }
    ReportBusy();
    co_return false;
}

core::Task<bool> CCommStatusDlg::Connect() {
    auto connect = [this] { return m_transfer->Connect(); };
    co_return co_await AsJob(connect);
}

core::Task<void> CCommStatusDlg::ReadFtpDirectory() {
    auto read = [this] { m_transfer->ReadFtpDirectory(); };
    co_await core::Job(read, &m_cancel);
}

core::Task<core::FolderRead> CCommStatusDlg::ReadFtpFolder(QString path) {
    core::FolderRead result;
    auto read = [this, &path] { return m_transfer->ReadFolder(path); };
    try {
        result = co_await core::Job(read, &m_cancel);
        co_return result;
    } catch (const core::JobBusy&) {
        ReportBusy(); // refused whole, as a copy is
    } catch (const std::exception& e) {
        result.words = QString::fromLocal8Bit(e.what());
    }
    co_return result;
}

bool CCommStatusDlg::Refused(const std::optional<core::TransferError>& refusal) {
    if (refusal)
        Failed(*refusal);
    return refusal.has_value();
}

core::Task<bool> CCommStatusDlg::CopyLocalToFtp(QString localPath, QString remotePath) {
    if (Refused(copychecks::SourceRefusal(localPath)))
        co_return false;
    co_return co_await AsJob([&] { return m_transfer->CopyLocalToFtp(localPath, remotePath); });
}

core::Task<bool> CCommStatusDlg::CopyFtpToLocal(QString remotePath, QString localPath) {
    // Before the server is asked for anything: nothing is fetched to be thrown away.
    if (Refused(copychecks::DownloadRefusal(remotePath, localPath)))
        co_return false;
    co_return co_await AsJob([&] { return m_transfer->CopyFtpToLocal(remotePath, localPath); });
}

core::Task<bool> CCommStatusDlg::CopyFtpToFtp(QString sourcePath, QString destinationPath) {
    co_return co_await AsJob(
        [&] { return m_transfer->CopyFtpToFtp(sourcePath, destinationPath); });
}

core::Task<bool> CCommStatusDlg::CopyFiles(std::vector<core::BatchFile> files) {
    using Way = core::BatchFile::Way;
    if (files.size() == 1) {
        const core::BatchFile file = files.front();
        if (file.way == Way::Upload)
            co_return co_await CopyLocalToFtp(file.source, file.destination);
        if (file.way == Way::Download)
            co_return co_await CopyFtpToLocal(file.source, file.destination);
        co_return co_await CopyFtpToFtp(file.source, file.destination);
    }
    // The files before the first refused one are copied; then it is told.
    std::optional<core::TransferError> refusal;
    auto refused = [&](const core::BatchFile& file) {
        if (file.way == Way::Upload)
            refusal = copychecks::SourceRefusal(file.source);
        else if (file.way == Way::Download)
            refusal = copychecks::DownloadRefusal(file.source, file.destination);
        return refusal.has_value();
    };
    files.erase(std::find_if(files.begin(), files.end(), refused), files.end());
    if (!files.empty()) {
        const bool copied = co_await AsJob([&] { return m_transfer->CopyBatch(files); });
        if (!copied)
            co_return false;
    }
    co_return !Refused(refusal);
}

core::Task<bool> CCommStatusDlg::CopyFolderLocalToFtp(QString source, QString destination) {
    co_return co_await AsJob([&] { return m_transfer->CopyFolderLocalToFtp(source, destination); });
}

core::Task<bool> CCommStatusDlg::CopyFolderFtpToLocal(QString source, QString destination) {
    co_return co_await AsJob([&] { return m_transfer->CopyFolderFtpToLocal(source, destination); });
}

core::Task<bool> CCommStatusDlg::CopyFolderFtpToFtp(QString source, QString destination) {
    co_return co_await AsJob([&] { return m_transfer->CopyFolderFtpToFtp(source, destination); });
}

core::Task<bool> CCommStatusDlg::CopyLocalToLocal(QString source, QString destination) {
    co_return co_await AsJob([&] { return m_transfer->CopyLocalToLocal(source, destination); });
}

void CCommStatusDlg::SetDlgItemText(int id, const QString& text) {
    if (!core::OnUiThread()) {
        core::PostToUi([window = QPointer<CCommStatusDlg>(this), id, text] {
            if (window)
                window->SetDlgItemText(id, text);
        });
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(Control(id))) {
        label->setText(text);
        // A line keeps its fixed name; a screen reader reads what it says from
        // here, as it does the status bar's panes.
        label->setAccessibleDescription(text);
    } else if (auto* button = qobject_cast<QPushButton*>(Control(id)))
        button->setText(text);
}

QString CCommStatusDlg::GetDlgItemText(int id) const {
    if (auto* label = qobject_cast<QLabel*>(Control(id)))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(Control(id)))
        return button->text();
    return QString();
}

void CCommStatusDlg::SetPane0(const QString& text) {
    m_transfer->ShowStatus(text);
}

QWidget* CCommStatusDlg::BoxOwner() const {
    if (m_created)
        return const_cast<CCommStatusDlg*>(this);
    return m_mainFrame;
}

namespace {
int ControlOf(core::StatusLine line) {
    using L = core::StatusLine;
    switch (line) {
    case L::Operation:
        return CCommStatusDlg::IDC_OPERATION;
    case L::Activity:
        return CCommStatusDlg::IDC_ACTIVITY;
    case L::Message:
        return CCommStatusDlg::IDC_MESSAGE;
    case L::From:
        return CCommStatusDlg::IDC_FROM;
    case L::To:
        return CCommStatusDlg::IDC_TO;
    case L::Copied:
        return CCommStatusDlg::IDC_COPIED;
    case L::Rate:
        return CCommStatusDlg::IDC_RATE;
    case L::Time:
        return CCommStatusDlg::IDC_TIME;
    case L::TimeLeft:
        return CCommStatusDlg::IDC_TIME_LEFT;
    case L::Files:
        return CCommStatusDlg::IDC_FILES;
    case L::Bytes:
        return CCommStatusDlg::IDC_ALL_BYTES;
    case L::TotalRate:
        return CCommStatusDlg::IDC_ALL_RATE;
    case L::TotalTimeLeft:
        return CCommStatusDlg::IDC_ALL_TIME_LEFT;
    case L::InFlight:
        return CCommStatusDlg::IDC_IN_FLIGHT;
    }
    return 0;
}
} // namespace

void CCommStatusDlg::ShowLine(core::StatusLine line, const QString& text) {
    // The paths of a copy carry the server's names, which must not disguise
    // themselves here either.
    const bool path = line == core::StatusLine::From || line == core::StatusLine::To ||
                      line == core::StatusLine::InFlight;
    if (line >= core::StatusLine::Files)
        RevealBatchLines();
    SetDlgItemText(ControlOf(line), path ? pathrules::Escaped(text) : text);
}

void CCommStatusDlg::ShowStatus(const QString& text) {
    if (m_mainFrame)
        m_mainFrame->SetPaneText(0, text);
}

void CCommStatusDlg::ShowConnectStep(const QString& text) {
    if (StartingUp() && m_created) {
        Control(IDC_MESSAGE)->setVisible(true);
        SetDlgItemText(IDC_MESSAGE, text);
        repaint();
        return;
    }
    ShowStatus(text);
}

bool CCommStatusDlg::StartingUp() const {
    return m_app && m_app->IsStartingUp();
}

void CCommStatusDlg::ShowProgress(int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(IDC_PROGRESS)))
        bar->setValue(position);
}

void CCommStatusDlg::BlockFinished(const BlockReport& report) {
    if (m_blockObserver)
        m_blockObserver(report);
}

void CCommStatusDlg::RevealTransferControls() {
    if (!m_created || m_transferControlsShown)
        return;
    for (int id : {IDC_HELP, IDC_CANCEL, IDC_HIDE, IDC_PROGRESS, IDC_FROM_LABEL, IDC_COPIED_LABEL,
                   IDC_RATE_LABEL, IDC_TO_LABEL, IDC_TIME_LABEL, IDC_TIME_LEFT_LABEL})
        Control(id)->setVisible(true);
    m_transferControlsShown = true;
    repaint();
}

void CCommStatusDlg::RevealBatchLines() {
    if (!m_created || m_batchLinesShown)
        return;
    const BaseUnits units = BaseUnitsOf(font());
    setFixedSize(units.Width(kClientWidth), units.Height(kBatchClientHeight));
    for (int id : {IDC_FILES_LABEL, IDC_FILES, IDC_ALL_BYTES_LABEL, IDC_ALL_BYTES,
                   IDC_ALL_RATE_LABEL, IDC_ALL_RATE, IDC_ALL_TIME_LEFT_LABEL, IDC_ALL_TIME_LEFT,
                   IDC_IN_FLIGHT_LABEL, IDC_IN_FLIGHT})
        Control(id)->setVisible(true);
    m_batchLinesShown = true;
}

QHash<int, bool> CCommStatusDlg::ShowCancelOnly() {
    QHash<int, bool> shown;
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        const int id = it.key();
        shown.insert(id, it.value()->isVisibleTo(this));
        it.value()->setVisible(id == IDC_OPERATION || id == IDC_ACTIVITY || id == IDC_CANCEL);
    }
    repaint();
    return shown;
}

void CCommStatusDlg::RestoreControls(const QHash<int, bool>& shown) {
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
        if (QWidget* control = Control(it.key()))
            control->setVisible(it.value());
    repaint();
}

void CCommStatusDlg::OnCancelCommunication() {
    m_cancel = 1;
}

void CCommStatusDlg::OnHideProgram() {
    if (!m_mainFrame)
        return;
    m_mainFrame->setEnabled(true);
    m_mainFrame->showMinimized();
    // Not a child of the main window, so it goes with it by hand (see eventFilter).
    if (m_created && isVisible()) {
        m_hiddenWithOwner = true;
        hide();
    }
}

void CCommStatusDlg::OnHelp() {
    const QString dir = m_app ? m_app->m_startupDir : QString();
    WinHelp(this, dir + QStringLiteral("Velmar98.hlp"), HELP_CONTEXT, HELP_CONTEXT_STATUS_WINDOW);
}

void CCommStatusDlg::reject() {
    // Escape must not close the window: only its owner ends it.
}

void CCommStatusDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}

bool CCommStatusDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_mainFrame && event->type() == QEvent::WindowStateChange) {
        if (m_mainFrame->isMinimized()) {
            if (m_created && isVisible()) {
                m_hiddenWithOwner = true;
                hide();
            }
        } else if (m_hiddenWithOwner) {
            m_hiddenWithOwner = false;
            show();
        }
    }
    return QDialog::eventFilter(watched, event);
}
