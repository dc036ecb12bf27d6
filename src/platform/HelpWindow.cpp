#include "HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
HelpRequest g_lastRequest;
QPointer<CHelpWindow> g_window;

struct Topic {
    QString resource;
    QString title;
    QString text;
};

QList<Topic> LoadTopics() {
    QList<Topic> topics;
    const QDir dir(QStringLiteral(":/help"));
    for (const QString& file : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(file));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QString html = QString::fromUtf8(f.readAll());
        static const QRegularExpression titleRe(QStringLiteral("<title>(.*?)</title>"));
        const auto m = titleRe.match(html);
        QString text = html;
        static const QRegularExpression tagRe(QStringLiteral("<[^>]*>"));
        text.remove(tagRe);
        topics.append({dir.filePath(file), m.hasMatch() ? m.captured(1) : file, text});
    }
    return topics;
}

// The help is a window of its own, as a help program's window would be: it stays
// when the window that asked for it goes (a status window closes when its copy
// ends), and it is not disabled with the main window while a copy runs. Only a
// modal dialog's help must be that dialog's own, since a modal dialog blocks
// every other window.
QWidget* HelpParentFor(QWidget* owner) {
    QWidget* top = owner ? owner->window() : nullptr;
    return top && top->isModal() ? top : nullptr;
}

void PlaceUnder(CHelpWindow* window, QWidget* parent) {
    if (window->parentWidget() == parent)
        return;
    // Flags given again: without them it would become a child widget inside parent.
    window->setParent(parent, window->windowFlags());
}

QString ResourceForContext(int context) {
    switch (context) {
    case HELP_CONTEXT_STATUS_WINDOW:
        return QStringLiteral(":/help/status.html");
    case HELP_CONTEXT_PROFILES:
        return QStringLiteral(":/help/profiles.html");
    default:
        return QStringLiteral(":/help/index.html");
    }
}
} // namespace

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Velmar98 Help"));
    setAccessibleName(QStringLiteral("Velmar98 Help"));
    setObjectName(QStringLiteral("helpWindow"));
    resize(760, 520);
    auto* layout = new QVBoxLayout(this);
    auto* searchRow = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Search:"), this);
    m_search = new QLineEdit(this);
    m_search->setAccessibleName(QStringLiteral("Search help topics"));
    label->setBuddy(m_search);
    searchRow->addWidget(label);
    searchRow->addWidget(m_search);
    layout->addLayout(searchRow);
    auto* split = new QSplitter(this);
    m_topics = new QListWidget(split);
    m_topics->setAccessibleName(QStringLiteral("Help topics"));
    m_browser = new QTextBrowser(split);
    m_browser->setAccessibleName(QStringLiteral("Help text"));
    m_browser->setOpenLinks(true);
    m_browser->setSearchPaths({QStringLiteral(":/help")});
    split->setStretchFactor(1, 3);
    layout->addWidget(split);
    connect(m_search, &QLineEdit::textChanged, this, &CHelpWindow::FillTopics);
    connect(m_topics, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item)
            ShowTopic(item->data(Qt::UserRole).toString());
    });
    FillTopics(QString());
}

void CHelpWindow::FillTopics(const QString& filter) {
    m_topics->clear();
    for (const Topic& t : LoadTopics()) {
        if (!filter.isEmpty() && !t.text.contains(filter, Qt::CaseInsensitive) &&
            !t.title.contains(filter, Qt::CaseInsensitive))
            continue;
        auto* item = new QListWidgetItem(t.title, m_topics);
        item->setData(Qt::UserRole, t.resource);
    }
}

void CHelpWindow::ShowTopic(const QString& resource) {
    if (QFile::exists(resource))
        m_browser->setSource(QUrl(QStringLiteral("qrc") + resource));
    else
        m_browser->setHtml(QStringLiteral("<p>This help topic is not available.</p>"));
}

void CHelpWindow::ShowContext(int context) { ShowTopic(ResourceForContext(context)); }
void CHelpWindow::ShowContents() { ShowTopic(ResourceForContext(0)); }
void CHelpWindow::ShowSearch() {
    ShowContents();
    m_search->setFocus();
}

QString CHelpWindow::CurrentTopicTitle() const { return m_browser->documentTitle(); }

void WinHelp(QWidget* owner, const QString& helpFile, HelpCommand command, int context) {
    g_lastRequest = HelpRequest{helpFile, command, context};
    QWidget* parent = HelpParentFor(owner);
    if (!g_window) {
        g_window = new CHelpWindow(parent);
        g_window->setAttribute(Qt::WA_DeleteOnClose);
        // Left open, it must not keep the program running once the main window
        // has closed, nor stay on the screen while the program winds down.
        g_window->setAttribute(Qt::WA_QuitOnClose, false);
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, g_window,
                         &QWidget::close);
    } else {
        PlaceUnder(g_window, parent);
    }
    switch (command) {
    case HELP_CONTEXT:
        g_window->ShowContext(context);
        break;
    case HELP_FINDER:
        g_window->ShowSearch();
        break;
    default:
        g_window->ShowContents();
        break;
    }
    g_window->show();
    g_window->raise();
}

HelpRequest LastHelpRequest() { return g_lastRequest; }
CHelpWindow* CurrentHelpWindow() { return g_window; }
