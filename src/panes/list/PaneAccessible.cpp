#include "PaneAccessible.h"

#include <QAccessibleObject>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

namespace {
// A menu of the menu bar (or a submenu) is a child of its menu item there; only
// a menu that stands alone, a context menu, needs a place of its own.
bool IsShownContextMenu(const QWidget* widget) {
    const auto* menu = qobject_cast<const QMenu*>(widget);
    if (!menu || !menu->isVisible())
        return false;
    const QWidget* owner = menu->parentWidget();
    return !qobject_cast<const QMenuBar*>(owner) && !qobject_cast<const QMenu*>(owner);
}

class ApplicationRoot : public QAccessibleObject {
public:
    ApplicationRoot() : QAccessibleObject(qApp) {}

    QWindow* window() const override { return nullptr; }
    QAccessibleInterface* parent() const override { return nullptr; }
    int childCount() const override { return static_cast<int>(Children().size()); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? static_cast<int>(Children().indexOf(child->object())) : -1;
    }
    QAccessibleInterface* child(int index) const override {
        const QObjectList children = Children();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }
    QAccessibleInterface* focusChild() const override {
        if (QWidget* popup = QApplication::activePopupWidget())
            return QAccessible::queryAccessibleInterface(popup);
        if (QWindow* window = QGuiApplication::focusWindow())
            return window->accessibleRoot();
        return nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return QGuiApplication::applicationName();
        if (t == QAccessible::Description)
            return QGuiApplication::applicationFilePath();
        return QString();
    }
    QAccessible::Role role() const override { return QAccessible::Application; }
    QAccessible::State state() const override { return QAccessible::State(); }

private:
    // The windows as the toolkit lists them, then the context menus shown.
    static QObjectList Children() {
        QObjectList list;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->type() == Qt::Popup || window->type() == Qt::Desktop)
                continue;
            if (QAccessibleInterface* root = window->accessibleRoot(); root && root->object())
                list.append(root->object());
        }
        for (QWidget* top : QApplication::topLevelWidgets())
            if (IsShownContextMenu(top))
                list.append(top);
        return list;
    }
};

QAccessibleInterface* MakeRoot(const QString& className, QObject* object) {
    if (object && object == qApp && className == QStringLiteral("QApplication"))
        return new ApplicationRoot;
    return nullptr;
}
} // namespace

void InstallAccessibleContextMenus() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(MakeRoot);
}
