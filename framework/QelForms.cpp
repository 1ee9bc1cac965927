#include "QelForms.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QScrollArea>
#include <QStackedWidget>

#include <algorithm>
#include <memory>
#include <new>

#include "QelAtomicWrite.h"
#include "QelError.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"
#include "QelPaths.h"
#include "QelRegularFile.h"

namespace {

// A settings file is small; anything beyond this is damage, and only the
// part up to here is read.
constexpr qint64 MaxSettingsFileSize = 64 * 1024 * 1024;

constexpr int32_t TextNoMemory = 1200;
constexpr int32_t TextInternalError = 1201;

}  // namespace

// ---------------------------------------------------------------------------
// TQelQtApplication

TQelQtApplication::TQelQtApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQelQtApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        QelShowException(e);
    }
    return false;
}

void QelShowException(const std::exception& E) {
    if (TQelApplication* app = TQelApplication::Instance()) {
        app->ShowException(E);
        return;
    }
    QelMessageBox(nullptr, QelExceptionText(E), QCoreApplication::applicationName(), MB_OK | MB_ICONERROR);
}

QString QelExceptionText(const std::exception& E) {
    const QString detail = QString::fromUtf8(E.what());
    if (dynamic_cast<const std::bad_alloc*>(&E))
        return QelText(TextNoMemory, QStringLiteral("There is not enough memory to finish this step."));
    if (dynamic_cast<const EQelOutOfMemory*>(&E))
        return QelText(TextNoMemory, QStringLiteral("There is not enough memory to finish this step.")) + u'\n' + detail;
    if (dynamic_cast<const EQelError*>(&E) && !dynamic_cast<const EQelProgramError*>(&E)) return detail;
    return QelText(TextInternalError, QStringLiteral("An internal error stopped this step.")) + u'\n' + detail;
}

// ---------------------------------------------------------------------------
// TQelApplication

TQelApplication* TQelApplication::FInstance = nullptr;

TQelApplication::TQelApplication()
    : QObject(nullptr),
      FComponents(),
      FMainForm(),
      FIdleHandlers(),
      FQueuedCalls(),
      FTitle(QCoreApplication::applicationName()),
      FExitCode(0),
      FInIdle(false),
      FTerminated(false),
      FDestroying(false) {
    if (!FInstance) FInstance = this;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TQelApplication::DoIdle);
}

TQelApplication::~TQelApplication() {
    DestroyComponents();
    if (FInstance == this) FInstance = nullptr;
}

void TQelApplication::Initialize() {}

void TQelApplication::InsertComponent(QObject* Component) {
    if (Component && std::find(FComponents.begin(), FComponents.end(), Component) == FComponents.end())
        FComponents.push_back(Component);
}

void TQelApplication::RemoveComponent(QObject* Component) {
    auto it = std::find(FComponents.begin(), FComponents.end(), Component);
    if (it != FComponents.end()) FComponents.erase(it);
}

void TQelApplication::DestroyComponents() {
    FDestroying = true;
    while (!FComponents.empty()) {
        // The last created first; the main window goes last of all, since
        // modules still refer to it while they are freed.
        auto it = FComponents.end() - 1;
        if (*it == FMainForm.data() && FComponents.size() > 1) --it;
        QObject* component = *it;
        FComponents.erase(it);
        delete component;
    }
    FQueuedCalls.Clear();
    FDestroying = false;
}

void TQelApplication::Run() {
    LoadSettings();
    if (FMainForm && !FTerminated) {
        // The loop ends when the main window closes, not when the last
        // window does (a dialog closed before the main window shows would
        // otherwise end it).
        QApplication::setQuitOnLastWindowClosed(false);
        FMainForm->show();
        if (!FTerminated) QApplication::exec();
    }
    SaveSettings();
}

void TQelApplication::Terminate() {
    FTerminated = true;
    QCoreApplication::quit();
}

QString TQelApplication::GetSettingsFileName() const {
    const QString appData = QelAppDataDir();
    if (!appData.isEmpty()) {
        const QString base = QCoreApplication::applicationName();
        return appData + QLatin1Char('/') + base + QLatin1Char('/') + base + QStringLiteral(".cfg");
    }
    const QFileInfo program(QelProgramFilePath());
    return program.path() + QLatin1Char('/') + program.completeBaseName() + QStringLiteral(".cfg");
}

void TQelApplication::LoadSettings() {
    std::unique_ptr<TQelSDFReader> reader;
    {
        // A larger file is damaged: its first part is read as if it ended
        // there, and the reader parses as far as the bytes are sound.
        const TQelFileContents file =
            QelReadRegularFile(GetSettingsFileName(), MaxSettingsFileSize, TQelOversize::ReadPrefix);
        if (file.Ok()) reader = std::make_unique<TQelSDFReader>(file.Bytes.constData(), size_t(file.Bytes.size()));
    }
    // Load and initialise per component, so every component initialises
    // after all earlier ones are complete (the main window's settings carry
    // the language that later components localise in).
    ForEachComponent<IQelModuleState>([&](IQelModuleState* state) {
        if (reader) state->LoadSettings(*reader);
        state->Initialize();
    });
    reader.reset();
    ForEachComponent<IQelModuleState>([](IQelModuleState* state) { state->AllLoaded(); });
}

void TQelApplication::SaveSettings() {
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        ForEachComponent<IQelModuleState>([&](IQelModuleState* state) { state->SaveSettings(writer); });
    }
    const std::vector<uint8_t>& bytes = stream.Bytes();
    // Nothing written: an existing file stays as it is.
    if (bytes.empty()) return;

    // Failures are silent; the old file stays unless the new one is
    // complete on the disk.
    const QString fileName = GetSettingsFileName();
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QString error;
    QelWriteFileAtomically(fileName,
                           QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), error);
}

void TQelApplication::AddIdleHandler(const TQelMethod& Method) { FIdleHandlers.Add(Method); }

void TQelApplication::RemoveIdleHandler(const TQelMethod& Method) { FIdleHandlers.Remove(Method); }

void TQelApplication::DoIdle() {
    if (FInIdle || FDestroying) return;
    // Cleared however the pass ends, or idle handling would stop for good.
    struct TIdleGuard {
        bool& Flag;
        ~TIdleGuard() { Flag = false; }
    } guard{FInIdle};
    FInIdle = true;
    try {
        bool done = true;
        if (OnIdle) OnIdle(this, done);
        if (done) {
            // A handler added during the pass first runs in the next one.
            const int count = FIdleHandlers.Count();
            for (int i = 0; i < count && i < FIdleHandlers.Count(); ++i) {
                // A copy: the handler may add to the list and move its entries.
                const TQelMethod handler = FIdleHandlers.GetMethod(i);
                handler();
            }
        }
    } catch (const std::exception& e) {
        // Idle passes run again while the message box is up.
        FInIdle = false;
        ShowException(e);
    }
}

void TQelApplication::QueueCall(const TQelMethod& Method) {
    if (!FMainForm) return;
    FQueuedCalls.Add(Method);
    if (FQueuedCalls.Count() == 1) QCoreApplication::postEvent(FMainForm.data(), new QEvent(QelQueuedCallEvent));
}

void TQelApplication::RunQueuedCall() {
    if (FQueuedCalls.Count() == 0) return;
    // The entry goes and the next message is posted even when the call
    // throws, or no later queued call would ever run.
    struct TNext {
        TQelApplication* App;
        ~TNext() {
            if (App->FQueuedCalls.Count() > 0) App->FQueuedCalls.Delete(0);
            if (App->FQueuedCalls.Count() > 0 && App->FMainForm)
                QCoreApplication::postEvent(App->FMainForm.data(), new QEvent(QelQueuedCallEvent));
        }
    };
    try {
        TNext next{this};
        const TQelMethod call = FQueuedCalls.GetMethod(0);
        call();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

int TQelApplication::MessageBox(const QString& Text, const QString& Caption, uint32_t Flags) {
    QWidget* parent = FMainForm && FMainForm->isVisible() ? FMainForm.data() : nullptr;
    return QelMessageBox(parent, Text, Caption, Flags);
}

int TQelApplication::MessageBoxTitled(const QString& Text, uint32_t Flags) { return MessageBox(Text, FTitle, Flags); }

void TQelApplication::ShowException(const std::exception& E) { MessageBoxTitled(QelExceptionText(E), MB_OK | MB_ICONERROR); }

void TQelApplication::SetTitle(const QString& Text) {
    FTitle = Text;
    if (OnTitleChange) OnTitleChange(this);
}

// ---------------------------------------------------------------------------
// TQelFormBase

TQelFormBase::TQelFormBase(QWidget* self) : FSelf(self), FOwnedByApplication(false) {}

TQelFormBase::~TQelFormBase() {
    // By identity only: no virtual call reaches the destroyed parts.
    if (TQelLocalizer* localizer = TQelLocalizer::Instance())
        localizer->RemoveLocalizeHandler(TQelMethod(this, &TQelFormBase::Localize));
    if (TQelApplication* app = TQelApplication::Instance()) {
        app->RemoveIdleHandler(TQelMethod(this, &TQelFormBase::UpdateControls));
        app->RemoveComponent(FSelf);
    }
}

void TQelFormBase::AfterConstruction() {
    if (!FOwnedByApplication) Initialize();
}

void TQelFormBase::Initialize() {
    if (TQelLocalizer* localizer = TQelLocalizer::Instance())
        localizer->AddLocalizeHandler(TQelMethod(this, &TQelFormBase::Localize));
    if (TQelApplication* app = TQelApplication::Instance())
        app->AddIdleHandler(TQelMethod(this, &TQelFormBase::UpdateControls));
}

void TQelFormBase::FormClosed() {
    TQelApplication* app = TQelApplication::Instance();
    if (app && app->MainForm() == FSelf) app->Terminate();
}

// ---------------------------------------------------------------------------
// TQelFrame

namespace {

// Containers whose children are the frame's controls. Composite controls
// (spin boxes, combo boxes, scroll-area viewports) manage the enabled state
// of their inner parts themselves and are not entered.
bool IsContainer(QWidget* w) {
    const QMetaObject* meta = w->metaObject();
    return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject ||
           meta == &QStackedWidget::staticMetaObject || qobject_cast<QGroupBox*>(w) ||
           qobject_cast<TQelFrame*>(w);
}

void SetChildrenEnabled(QWidget* parent, bool value) {
    const QList<QWidget*> children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        child->setEnabled(value);
        if (auto* scroll = qobject_cast<QScrollArea*>(child)) {
            if (QWidget* content = scroll->widget()) {
                content->setEnabled(value);
                SetChildrenEnabled(content, value);
            }
        } else if (IsContainer(child)) {
            SetChildrenEnabled(child, value);
        }
    }
}

}  // namespace

TQelFrame::TQelFrame(QWidget* parent) : QFrame(parent), TQelFormBase(this), FControlsEnabled(false) {
    resize(320, 240);
}

void TQelFrame::Initialize() {
    FControlsEnabled = true;
    TQelFormBase::Initialize();
}

void TQelFrame::SetControlsEnabled(bool Value) {
    if (Value == FControlsEnabled) return;
    SetChildrenEnabled(this, Value);
    FControlsEnabled = Value;
}
