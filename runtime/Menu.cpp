#include "runtime/Menu.h"

#include "runtime/Exceptions.h"
#include "runtime/Recorder.h"
#include "runtime/Runtime.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QWidget>

#include <map>

ClassRecord MenuItem::buildRecord()
{
    return ClassRecordBuilder<MenuItem>("MenuItem").events({ "Action", "EnableMenu" }).build();
}

ClassRecord MenuBar::buildRecord()
{
    return ClassRecordBuilder<MenuBar>("MenuBar", &MenuItem::Lookup_()).build();
}

ClassRecord QuitMenuItem::buildRecord()
{
    return ClassRecordBuilder<QuitMenuItem>("QuitMenuItem", &MenuItem::Lookup_()).build();
}

void MenuItem::Constructor()
{
}

void MenuItem::Append(Ref<MenuItem> const& child)
{
    m_children.push_back(Ref<MenuItem>(&child.checked()));
}

Ref<MenuItem> MenuItem::Child(String const& name) const
{
    for (Ref<MenuItem> const& child : m_children) {
        if (child->Name() == name)
            return child;
    }
    return nullptr;
}

Ref<MenuItem> MenuItem::Lookup_(String const& name) const
{
    for (Ref<MenuItem> const& child : m_children) {
        if (child->Name() == name)
            return child;
        if (Ref<MenuItem> found = child->Lookup_(name))
            return found;
    }
    return nullptr;
}

Ref<MenuItem> MenuItem::Item(std::int32_t index) const
{
    if (index < 0 || index >= Count())
        Raise<OutOfBoundsException>("There is no menu item at index " + std::to_string(index));
    return m_children[static_cast<std::size_t>(index)];
}

namespace {

// Deletes the selection of the text field that has the focus, as its Delete
// key does; with nothing selected it does nothing, so the item never eats a
// character the user did not choose.
void deleteSelection(QWidget* field)
{
    if (field->inputMethodQuery(Qt::ImCurrentSelection).toString().isEmpty())
        return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
    QCoreApplication::sendEvent(field, &release);
}

}

void MenuItem::Action()
{
    QWidget* const focus = QApplication::focusWidget();
    if (!focus)
        return;
    if (m_name == "EditClear") {
        deleteSelection(focus);
        return;
    }
    // The standard editing slots of Qt's text widgets, by item name.
    static std::map<String, char const*> const editSlots {
        { "EditUndo", "undo" }, { "EditCut", "cut" }, { "EditCopy", "copy" },
        { "EditPaste", "paste" }, { "EditSelectAll", "selectAll" },
    };
    auto const slot = editSlots.find(m_name);
    if (slot == editSlots.end())
        return;
    QByteArray const signature = QByteArray(slot->second) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot->second);
}

void QuitMenuItem::Action()
{
    QuitMenuAction(*this);
}

void QuitMenuAction(MenuItem& item)
{
    RuntimeRecord("QuitMenuAction", { item.Name() });
    QCoreApplication::exit(0);
}

namespace {

QKeySequence shortcutOf(String const& text)
{
    // Shortcuts are written for the command key ("Cmd+Q"); here that is Ctrl.
    QString shortcut = QString::fromStdString(text);
    shortcut.replace(QLatin1String("Cmd+"), QLatin1String("Ctrl+"));
    return QKeySequence(shortcut);
}

void addItems(MenuItem const& menu, QMenu* qtMenu)
{
    for (std::int32_t i = 0; i < menu.Count(); ++i) {
        Ref<MenuItem> item = menu.Item(i);
        if (item->isSeparator()) {
            qtMenu->addSeparator();
            continue;
        }
        if (item->Count() > 0) {
            addItems(*item, qtMenu->addMenu(QString::fromStdString(item->Text())));
            continue;
        }
        QAction* action = qtMenu->addAction(QString::fromStdString(item->Text()));
        action->setObjectName(QString::fromStdString(item->Name()));
        action->setShortcut(shortcutOf(item->KeyboardShortcut()));
        action->setEnabled(item->AutoEnable());
        // The quit item is the one thing asked for during long work that is
        // carried out once it is over (see BackgroundTask).
        if (item->isKindOf(QuitMenuItem::Lookup_()))
            action->setMenuRole(QAction::QuitRole);
        QObject::connect(action, &QAction::triggered, action, [item] { RuntimeRunGuarded([&] { item->Action(); }); });
    }
}

}

QMenuBar* RuntimeBuildQtMenuBar(Ref<MenuBar> const& bar, QWidget* parent)
{
    auto* qtBar = new QMenuBar(parent);
    for (std::int32_t i = 0; i < bar->Count(); ++i) {
        Ref<MenuItem> menu = bar->Item(i);
        QMenu* qtMenu = qtBar->addMenu(QString::fromStdString(menu->Text()));
        qtMenu->setObjectName(QString::fromStdString(menu->Name()));
        qtMenu->setEnabled(menu->AutoEnable());
        addItems(*menu, qtMenu);
    }
    return qtBar;
}
