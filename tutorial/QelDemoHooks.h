// What modules use to take part in tutorials: the scriptable-module
// interface, the registries of named user-interface elements and of script
// commands, the recording operations, and the screen points of controls,
// menu items and toolbar items.
//
// The registries live in a small service that main() creates before any
// module, so that modules created before the tutorial module can register.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <vector>

class QAction;
class QWidget;
class TQelDemoPlayback;
class TQelDemoScriptParams;
class TQelDemoScriptUserAction;

// Implemented by the modules that answer script commands and resolve element
// names of their own user interface (the editor, the graphics editor, every
// tool). Found on the application object's components with dynamic_cast.
class IQelScriptableModule {
public:
    virtual ~IQelScriptableModule() = default;

    // Carries out Command (upper case) with Params; Action is the running
    // user action, to which sub-actions may be added. Sets Handled when the
    // command was this module's.
    virtual void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                bool& Handled) = 0;
    // When argument 0 names an element of this module, sets Point to its
    // screen position and Handled to true.
    virtual void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                                 bool& Handled) = 0;
    // From now on, records the user's actions through Playback.
    virtual void StartRecording(TQelDemoPlayback* Playback) = 0;
    // Forgets the recorder.
    virtual void StopRecording(TQelDemoPlayback* Playback) = 0;
};

// A named element scripts may point at: a control (QWidget) or a menu or
// toolbar item (QAction); which of the two an action is is decided when its
// point is asked for.
struct TQelDemoComponentInfo {
    QByteArray Name;  // upper case
    QPointer<QObject> Component;
};

// A script command; each row has exactly one handler.
struct TQelDemoCommandInfo {
    QByteArray Name;  // upper case
    std::function<void()> Handler;
    std::function<void(QObject* Sender)> NotifyHandler;
    QPointer<QObject> Sender;
    std::function<void(bool)> BoolHandler;
    bool BoolDefault = false;
    std::function<void(int32_t)> IntHandler;
    int32_t IntDefault = 0;
    std::function<void(int32_t X, int32_t Y)> PointHandler;
    QPoint PointDefault;
};

class TQelDemoHooks {
public:
    // The first instance becomes Instance() until it is destroyed.
    TQelDemoHooks();
    ~TQelDemoHooks();
    TQelDemoHooks(const TQelDemoHooks&) = delete;
    TQelDemoHooks& operator=(const TQelDemoHooks&) = delete;

    static TQelDemoHooks* Instance();

    // Registration: rows are appended in order; names are stored in upper
    // case and not checked for duplicates, so the first row of a name wins.
    // A missing component is ignored.
    void RegisterComponent(const QByteArray& Name, QObject* Component);
    void RegisterCommand(const QByteArray& Name, std::function<void()> Handler);
    void RegisterNotifyCommand(const QByteArray& Name, QObject* Sender, std::function<void(QObject*)> Handler);
    void RegisterBoolCommand(const QByteArray& Name, bool Default, std::function<void(bool)> Handler);
    void RegisterIntCommand(const QByteArray& Name, int32_t Default, std::function<void(int32_t)> Handler);
    void RegisterPointCommand(const QByteArray& Name, const QPoint& Default,
                              std::function<void(int32_t, int32_t)> Handler);

    const std::vector<TQelDemoComponentInfo>& Components() const { return FComponents; }
    const std::vector<TQelDemoCommandInfo>& Commands() const { return FCommands; }

    // The player the recording operations write through; the tutorial module
    // sets it when it creates its player and clears it before freeing it.
    void SetPlayback(TQelDemoPlayback* Playback) { FPlayback = Playback; }
    TQelDemoPlayback* Playback() const { return FPlayback; }

    // Recording: each does nothing unless the player is recording.
    bool IsRecording() const;
    void RecordLine(const QByteArray& Line);
    // "MouseCurvedMove " + Name.
    void RecordMoveTo(const QByteArray& Name);
    // The move to Name, then Name + " " + Value, or Name alone when Value is empty.
    void RecordUICommand(const QByteArray& Name, const QByteArray& Value = QByteArray());

    // Command dispatch: the command rows in order (the first row of that
    // name with a handler is called), then every scriptable component of the
    // application object in order until one handles it.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled);
    // Element position: the element rows named by argument 0 in order (an
    // item that has no point on the screen does not end the search), then
    // every scriptable component in order.
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled);

    // What recording sites put into their recorded Message lines.
    QByteArray DefaultMessageText = "Click";

private:
    static bool CallCommand(const TQelDemoCommandInfo& Row, const TQelDemoScriptParams& Params);
    static bool ComponentPoint(QObject* Component, QPoint& Point);

    std::vector<TQelDemoComponentInfo> FComponents;
    std::vector<TQelDemoCommandInfo> FCommands;
    TQelDemoPlayback* FPlayback = nullptr;
    static TQelDemoHooks* FInstance;
};

// The screen point of the control's middle.
void GetControlCenter(QWidget* Control, QPoint& Point);
// The middle of the item in its open menu or in the visible menu bar; false
// when the item is not on the screen.
bool GetMenuItemCenter(QAction* Item, QPoint& Point);
// The middle of the item's button on a visible toolbar; false when the item
// is hidden or not on a toolbar.
bool GetToolbarItemCenter(QAction* Item, QPoint& Point);
