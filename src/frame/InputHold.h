#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

class QEvent;
class QWidget;

// While a job runs, what the user types or clicks in the main window waits until
// it has ended, and then arrives in the order it was given: a key pressed during
// a rename is neither lost nor handled in the middle of the rename. The status
// window, the message boxes and every other window take their input at once.
class InputHold : public QObject {
public:
    explicit InputHold(QWidget* frame);
    ~InputHold() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Hold();
    void Release();

    QPointer<QWidget> m_frame;
    bool m_holding = false;
    struct Held {
        QPointer<QObject> target;
        std::unique_ptr<QEvent> event;
    };
    std::vector<Held> m_held;
};
