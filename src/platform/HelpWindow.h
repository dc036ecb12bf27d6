#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QListWidget;
class QTextBrowser;

// What the program asks of its help: a topic by context number, the contents or
// the search page. The topics are HTML pages built into the program (":/help/").
enum HelpCommand { HELP_CONTEXT = 1, HELP_CONTENTS = 3, HELP_FINDER = 11 };

enum : int {
    HELP_CONTEXT_STATUS_WINDOW = 200,
    HELP_CONTEXT_PROFILES = 300,
};

struct HelpRequest {
    QString helpFile;
    HelpCommand command = HELP_CONTENTS;
    int context = 0;
};

// Opens the help window at the given topic. helpFile names the help file the
// caller asked for; the pages themselves come from the built-in topics.
void WinHelp(QWidget* owner, const QString& helpFile, HelpCommand command, int context = 0);

// The last request made, and the window that answered it (tests look at both).
HelpRequest LastHelpRequest();
class CHelpWindow;
CHelpWindow* CurrentHelpWindow();

class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    void ShowContext(int context);
    void ShowContents();
    void ShowSearch();
    QString CurrentTopicTitle() const;
    QTextBrowser* Browser() const { return m_browser; }

private:
    void FillTopics(const QString& filter);
    void ShowTopic(const QString& resource);

    QLineEdit* m_search = nullptr;
    QListWidget* m_topics = nullptr;
    QTextBrowser* m_browser = nullptr;
};
