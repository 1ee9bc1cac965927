// The application object, the module-state interface and the bases of the
// program's own windows and option frames.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "QelClasses.h"

class TQelSDFReader;
class TQelSDFWriter;

// Posted to the main window to run one queued call.
constexpr QEvent::Type QelQueuedCallEvent = QEvent::Type(QEvent::User + 100);

// What the application object asks of every component in the settings
// cycle. Components are found by dynamic_cast; their owner frees them.
class IQelModuleState {
public:
    virtual void Initialize() = 0;
    virtual void LoadSettings(TQelSDFReader& Reader) = 0;
    virtual void SaveSettings(TQelSDFWriter& Writer) = 0;
    virtual void AllLoaded() = 0;

protected:
    ~IQelModuleState() = default;
};

using TQelNotifyEvent = std::function<void(QObject* Sender)>;
using TQelIdleEvent = std::function<void(QObject* Sender, bool& Done)>;

// The QApplication of the program: an exception that reaches the event
// loop is shown in a message box instead of ending the program.
class TQelQtApplication : public QApplication {
    Q_OBJECT
public:
    TQelQtApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The one application object. It owns the program's components (modules
// and the forms created with CreateForm) in creation order; every
// broadcast walks that list.
class TQelApplication : public QObject {
    Q_OBJECT
public:
    TQelApplication();
    ~TQelApplication() override;

    static TQelApplication* Instance() { return FInstance; }

    void Initialize();

    // Two-phase creation: the object is constructed, registered (and the
    // reference set), then its Create and AfterConstruction steps run. When
    // they throw, the component is unregistered and freed, the reference
    // becomes null and the exception goes on.
    template <class T, class... Args>
    T* CreateModule(T*& Reference, Args&&... args) {
        T* instance = new T(std::forward<Args>(args)...);
        Reference = instance;
        try {
            Construct(instance, instance);
        } catch (...) {
            Reference = nullptr;
            throw;
        }
        return instance;
    }

    template <class T, class... Args>
    T* CreateComponent(Args&&... args) {
        T* instance = new T(std::forward<Args>(args)...);
        Construct(instance, instance);
        return instance;
    }

    // A window owned by this object: it is initialised by the settings
    // cycle, not at construction. The first one becomes the main window.
    template <class T, class... Args>
    T* CreateForm(T*& Reference, Args&&... args) {
        T* instance = new T(std::forward<Args>(args)...);
        Reference = instance;
        instance->SetOwnedByApplication();
        try {
            Construct(instance, instance);
        } catch (...) {
            Reference = nullptr;
            throw;
        }
        if (!FMainForm) FMainForm = static_cast<QWidget*>(instance);
        return instance;
    }

    // Settings cycle, then the event loop until the main window closes,
    // then the settings are saved.
    void Run();
    // Ends the event loop (the main window has closed).
    void Terminate();
    bool Terminated() const { return FTerminated; }

    void LoadSettings();
    void SaveSettings();
    QString GetSettingsFileName() const;

    int ComponentCount() const { return int(FComponents.size()); }
    QObject* Components(int Index) const { return FComponents[size_t(Index)]; }
    // Calls Visit with every component that is a T, in component order. A
    // visitor that returns bool ends the walk by returning true (the result
    // is then true). The count is read afresh at every step, since a visitor
    // may create or free components.
    template <class T, class F>
    bool ForEachComponent(F&& Visit) const {
        for (int i = 0; i < ComponentCount(); ++i) {
            if (auto* component = dynamic_cast<T*>(Components(i))) {
                if constexpr (std::is_same_v<decltype(Visit(component)), bool>) {
                    if (Visit(component)) return true;
                } else {
                    Visit(component);
                }
            }
        }
        return false;
    }
    // Components register and unregister themselves; their destructors call
    // RemoveComponent.
    void InsertComponent(QObject* Component);
    void RemoveComponent(QObject* Component);
    // Frees the components, the last created first and the main window last.
    void DestroyComponents();

    QWidget* MainForm() const { return FMainForm.data(); }

    void AddIdleHandler(const TQelMethod& Method);
    void RemoveIdleHandler(const TQelMethod& Method);
    // One idle pass. Driven by the event dispatcher before it waits; public
    // so that tests can run passes.
    void DoIdle();

    void QueueCall(const TQelMethod& Method);
    void RunQueuedCall();
    int QueuedCallCount() const { return FQueuedCalls.Count(); }

    int MessageBox(const QString& Text, const QString& Caption, uint32_t Flags);
    int MessageBoxTitled(const QString& Text, uint32_t Flags);
    // How an exception that reached the event loop is reported.
    void ShowException(const std::exception& E);

    QString GetTitle() const { return FTitle; }
    void SetTitle(const QString& Text);

    int ExitCode() const { return FExitCode; }
    void SetExitCode(int Value) { FExitCode = Value; }

    // The help file for classic help; empty unless a help module sets one.
    QString HelpFile;

    TQelIdleEvent OnIdle;
    TQelNotifyEvent OnTitleChange;

private:
    template <class T>
    void Construct(T* instance, QObject* component) {
        InsertComponent(component);
        try {
            instance->Create();
            instance->AfterConstruction();
        } catch (...) {
            RemoveComponent(component);
            delete instance;
            throw;
        }
    }

    static TQelApplication* FInstance;

    std::vector<QObject*> FComponents;
    QPointer<QWidget> FMainForm;
    TQelMethodList FIdleHandlers;
    TQelMethodList FQueuedCalls;
    QString FTitle;
    int FExitCode;
    bool FInIdle;
    bool FTerminated;
    bool FDestroying;
};

// Shows an exception with the application title as caption (also without an
// application object).
void QelShowException(const std::exception& E);

// What the user reads for an exception: an EQelError's own text, which is
// meant for the user; for a lack of memory, a broken invariant or a foreign
// exception, a sentence in the user's language with the English detail
// under it for support.
QString QelExceptionText(const std::exception& E);

// The part that every own window and option frame shares: localisation,
// idle updates and a settings node. Not a QObject; the Qt side comes from
// the class it is mixed into.
class TQelFormBase : public IQelModuleState {
public:
    TQelFormBase(const TQelFormBase&) = delete;
    TQelFormBase& operator=(const TQelFormBase&) = delete;

    // Creation steps, run by the factories after the constructor.
    virtual void Create() {}
    // Initialises a form or frame that the application object does not own.
    virtual void AfterConstruction();

    virtual void Localize() {}
    virtual void UpdateControls() {}
    void LoadSettings(TQelSDFReader&) override {}
    void SaveSettings(TQelSDFWriter&) override {}
    void AllLoaded() override {}
    // Subscribes Localize (which runs at once) and UpdateControls.
    void Initialize() override;

    bool OwnedByApplication() const { return FOwnedByApplication; }
    void SetOwnedByApplication() { FOwnedByApplication = true; }

protected:
    explicit TQelFormBase(QWidget* self);
    // Unsubscribes and unregisters; the window itself goes afterwards.
    virtual ~TQelFormBase();

    // Called when a close event on the window was accepted.
    void FormClosed();

private:
    QWidget* FSelf;
    bool FOwnedByApplication;
};

// An own window over a Qt window class (QMainWindow, QDialog, QWidget).
template <class QtBase>
class TQelForm : public QtBase, public TQelFormBase {
public:
    explicit TQelForm(QWidget* parent = nullptr) : QtBase(parent), TQelFormBase(this) {}

protected:
    bool event(QEvent* e) override {
        if (e->type() == QelQueuedCallEvent) {
            if (TQelApplication* app = TQelApplication::Instance()) app->RunQueuedCall();
            return true;
        }
        const bool result = QtBase::event(e);
        if (e->type() == QEvent::Close && e->isAccepted()) FormClosed();
        return result;
    }
};

// The base of the tools' option frames.
class TQelFrame : public QFrame, public TQelFormBase {
    Q_OBJECT
public:
    explicit TQelFrame(QWidget* parent = nullptr);

    void Initialize() override;

    bool ControlsEnabled() const { return FControlsEnabled; }
    // Sets every control inside the frame, at every depth, to Value, unless
    // Value is already the stored state. The frame itself is left alone.
    void SetControlsEnabled(bool Value);

private:
    bool FControlsEnabled;
};

// Creates a form or frame that the application object does not own: it is
// initialised at once. When creation throws, the object is freed.
template <class T, class... Args>
T* QelCreateForm(Args&&... args) {
    T* instance = new T(std::forward<Args>(args)...);
    try {
        instance->Create();
        instance->AfterConstruction();
    } catch (...) {
        delete instance;
        throw;
    }
    return instance;
}

template <class T, class... Args>
T* QelCreateFrame(Args&&... args) {
    return QelCreateForm<T>(std::forward<Args>(args)...);
}
