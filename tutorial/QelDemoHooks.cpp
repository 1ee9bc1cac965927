#include "QelDemoHooks.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"

namespace {

// The middle of R as the platform's menus give it: ((L + R) div 2, (T + B) div 2)
// with exclusive right and bottom.
QPoint RectCenter(const QRect& r) {
    return QPoint((r.x() + r.x() + r.width()) / 2, (r.y() + r.y() + r.height()) / 2);
}

bool CenterInMenuWidget(QWidget* menu, QAction* item, QPoint& point) {
    QRect r;
    if (auto* popup = qobject_cast<QMenu*>(menu)) r = popup->actionGeometry(item);
    else if (auto* bar = qobject_cast<QMenuBar*>(menu)) r = bar->actionGeometry(item);
    if (r.isEmpty()) return false;
    point = menu->mapToGlobal(RectCenter(r));
    return true;
}

// An open popup menu that shows the item.
QMenu* OpenMenuOf(QAction* item) {
    if (auto* active = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        active && active->actions().contains(item))
        return active;
    for (QObject* o : item->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(o); menu && menu->isVisible()) return menu;
    return nullptr;
}

template <class F>
void ForEachScriptable(F&& f) {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return;
    app->ForEachComponent<IQelScriptableModule>(f);
}

}  // namespace

// ---- Screen points ----------------------------------------------------------

void GetControlCenter(QWidget* Control, QPoint& Point) {
    // Not rect().center(): its right edge is inclusive, one pixel short.
    Point = Control->mapToGlobal(QPoint(Control->width() / 2, Control->height() / 2));
}

bool GetMenuItemCenter(QAction* Item, QPoint& Point) {
    if (!Item || !Item->isVisible()) return false;
    if (QMenu* menu = OpenMenuOf(Item)) return CenterInMenuWidget(menu, Item, Point);
    // A closed menu has no place on the screen: unresolved rather than a
    // made-up point, so the search goes on.
    for (QObject* o : Item->associatedObjects())
        if (auto* bar = qobject_cast<QMenuBar*>(o); bar && bar->isVisible())
            if (CenterInMenuWidget(bar, Item, Point)) return true;
    return false;
}

bool GetToolbarItemCenter(QAction* Item, QPoint& Point) {
    if (!Item || !Item->isVisible()) return false;
    for (QObject* o : Item->associatedObjects()) {
        auto* toolbar = qobject_cast<QToolBar*>(o);
        if (!toolbar) continue;
        // Items pushed into the toolbar's overflow have a hidden button.
        QWidget* button = toolbar->widgetForAction(Item);
        if (!button || !button->isVisible()) continue;
        GetControlCenter(button, Point);
        return true;
    }
    // A toolbar of our own (the tool panel's wrapping one) shows the item
    // as a tool button of its own.
    for (QObject* o : Item->associatedObjects()) {
        auto* button = qobject_cast<QToolButton*>(o);
        if (!button || button->defaultAction() != Item || !button->isVisible()) continue;
        if (qobject_cast<QToolBar*>(button->parentWidget())) continue;  // answered above
        GetControlCenter(button, Point);
        return true;
    }
    return false;
}

// ---- TQelDemoHooks ----------------------------------------------------------

TQelDemoHooks* TQelDemoHooks::FInstance = nullptr;

TQelDemoHooks::TQelDemoHooks() {
    if (!FInstance) FInstance = this;
}

TQelDemoHooks::~TQelDemoHooks() {
    if (FInstance == this) FInstance = nullptr;
}

TQelDemoHooks* TQelDemoHooks::Instance() { return FInstance; }

void TQelDemoHooks::RegisterComponent(const QByteArray& Name, QObject* Component) {
    if (!Component) return;
    FComponents.push_back(TQelDemoComponentInfo{Name.toUpper(), Component});
}

void TQelDemoHooks::RegisterCommand(const QByteArray& Name, std::function<void()> Handler) {
    TQelDemoCommandInfo row;
    row.Name = Name.toUpper();
    row.Handler = std::move(Handler);
    FCommands.push_back(std::move(row));
}

void TQelDemoHooks::RegisterNotifyCommand(const QByteArray& Name, QObject* Sender,
                                          std::function<void(QObject*)> Handler) {
    TQelDemoCommandInfo row;
    row.Name = Name.toUpper();
    row.NotifyHandler = std::move(Handler);
    row.Sender = Sender;
    FCommands.push_back(std::move(row));
}

void TQelDemoHooks::RegisterBoolCommand(const QByteArray& Name, bool Default, std::function<void(bool)> Handler) {
    TQelDemoCommandInfo row;
    row.Name = Name.toUpper();
    row.BoolHandler = std::move(Handler);
    row.BoolDefault = Default;
    FCommands.push_back(std::move(row));
}

void TQelDemoHooks::RegisterIntCommand(const QByteArray& Name, int32_t Default,
                                       std::function<void(int32_t)> Handler) {
    TQelDemoCommandInfo row;
    row.Name = Name.toUpper();
    row.IntHandler = std::move(Handler);
    row.IntDefault = Default;
    FCommands.push_back(std::move(row));
}

void TQelDemoHooks::RegisterPointCommand(const QByteArray& Name, const QPoint& Default,
                                         std::function<void(int32_t, int32_t)> Handler) {
    TQelDemoCommandInfo row;
    row.Name = Name.toUpper();
    row.PointHandler = std::move(Handler);
    row.PointDefault = Default;
    FCommands.push_back(std::move(row));
}

bool TQelDemoHooks::IsRecording() const { return FPlayback && FPlayback->IsRecording(); }

void TQelDemoHooks::RecordLine(const QByteArray& Line) {
    if (IsRecording()) FPlayback->RecordLine(Line);
}

void TQelDemoHooks::RecordMoveTo(const QByteArray& Name) { RecordLine("MouseCurvedMove " + Name); }

void TQelDemoHooks::RecordUICommand(const QByteArray& Name, const QByteArray& Value) {
    if (!IsRecording()) return;
    RecordMoveTo(Name);
    RecordLine(Value.isEmpty() ? Name : Name + ' ' + Value);
}

bool TQelDemoHooks::CallCommand(const TQelDemoCommandInfo& Row, const TQelDemoScriptParams& Params) {
    if (Row.Handler) {
        Row.Handler();
    } else if (Row.NotifyHandler) {
        Row.NotifyHandler(Row.Sender.data());
    } else if (Row.BoolHandler) {
        // A text argument counts as false.
        Row.BoolHandler(Params.Count() == 0 ? Row.BoolDefault : Params.IsNumeric(0) && Params.AsDouble(0) != 0);
    } else if (Row.IntHandler) {
        Row.IntHandler(Params.IsNumeric(0) ? Params.AsInteger(0) : Row.IntDefault);
    } else if (Row.PointHandler) {
        if (Params.IsNumeric(0) && Params.IsNumeric(1))
            Row.PointHandler(Params.AsInteger(0), Params.AsInteger(1));
        else
            Row.PointHandler(Row.PointDefault.x(), Row.PointDefault.y());
    } else {
        return false;
    }
    return true;
}

void TQelDemoHooks::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                   const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                   bool& Handled) {
    const QByteArray name = Command.toUpper();
    // By index and counted afresh: a handler may register further commands.
    for (size_t i = 0; i < FCommands.size(); ++i) {
        if (FCommands[i].Name != name) continue;
        // A copy: the handler may append rows, which moves the array.
        const TQelDemoCommandInfo row = FCommands[i];
        if (CallCommand(row, Params)) {
            Handled = true;
            return;
        }
    }
    ForEachScriptable([&](IQelScriptableModule* module) {
        module->ExecuteCommand(Playback, name, Params, Action, Handled);
        return Handled;
    });
}

bool TQelDemoHooks::ComponentPoint(QObject* Component, QPoint& Point) {
    if (auto* control = qobject_cast<QWidget*>(Component)) {
        GetControlCenter(control, Point);
        return true;
    }
    if (auto* item = qobject_cast<QAction*>(Component)) {
        // An open menu that shows the item lies over everything else; then the
        // item's toolbar button; then its place in the menu bar.
        if (OpenMenuOf(item)) return GetMenuItemCenter(item, Point);
        return GetToolbarItemCenter(item, Point) || GetMenuItemCenter(item, Point);
    }
    return false;
}

void TQelDemoHooks::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                                    bool& Handled) {
    const std::string text = Params.AsText(0);
    const QByteArray name = QByteArray(text.data(), qsizetype(text.size())).toUpper();
    for (size_t i = 0; i < FComponents.size(); ++i) {
        if (FComponents[i].Name != name) continue;
        QObject* component = FComponents[i].Component.data();
        if (component && ComponentPoint(component, Point)) {
            Handled = true;
            return;
        }
    }
    ForEachScriptable([&](IQelScriptableModule* module) {
        module->GetCommandPoint(Playback, Params, Point, Handled);
        return Handled;
    });
}
