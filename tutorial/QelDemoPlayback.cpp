#include "QelDemoPlayback.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "QelBalloon.h"
#include "QelForms.h"
#include "QelGeometry.h"
#include "QelLocalizer.h"
#include "QelMouseSynth.h"

namespace {

constexpr int32_t TextInvalidArguments = 1206;
constexpr int32_t TextUnknownCommand = 1207;

// Nearest integer, halves to even, for results that may exceed 32 bits.
int64_t RoundEven64(double value) {
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);
    if (r >= 9.0e18) return int64_t(9.0e18);
    if (r <= -9.0e18) return int64_t(-9.0e18);
    return int64_t(r);
}

int32_t ClampToInt32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// While a balloon explains a step, the program's own tooltips stay away.
class TQelHintBlocker : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

void SetApplicationHints(bool show) {
    static QPointer<TQelHintBlocker> blocker;
    if (show) {
        delete blocker.data();
    } else {
        if (!blocker && qApp) {
            blocker = new TQelHintBlocker(qApp);
            qApp->installEventFilter(blocker);
        }
        QToolTip::hideText();
    }
}

void HidePointer() { QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor)); }

void ShowPointer() {
    // Only our own blank cursor is taken off: another override set on top of
    // it in the meantime (an hourglass) belongs to someone else.
    const QCursor* top = QGuiApplication::overrideCursor();
    if (top && top->shape() == Qt::BlankCursor) QGuiApplication::restoreOverrideCursor();
}

}  // namespace

// ---------------------------------------------------------------------------
// The application hooks: switching away or minimising pauses playback, coming
// back resumes it, and Escape asks whether to abort.

class TQelDemoPlaybackHooks : public QObject {
public:
    TQelDemoPlaybackHooks(TQelDemoPlayback* playback, QObject* parent) : QObject(parent), FPlayback(playback) {
        qApp->installEventFilter(this);
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) { ApplicationStateChanged(state); });
        if (TQelApplication* application = TQelApplication::Instance()) {
            FMainForm = application->MainForm();
            if (FMainForm) FMainForm->installEventFilter(this);
        }
    }

    // Playback no longer listens; an Escape press that was kept from the
    // program still has its release kept from it, then the object goes.
    void Detach() {
        FPlayback = nullptr;
        disconnect(qApp, nullptr, this, nullptr);
        if (FMainForm) FMainForm->removeEventFilter(this);
        if (!FEscapeHeld) deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            return KeyEvent(static_cast<QKeyEvent*>(event));
        case QEvent::WindowStateChange:
            if (FPlayback && watched == FMainForm && FMainForm) {
                const bool minimized = FMainForm->isMinimized();
                if (minimized && !FMinimized) {
                    FMinimized = true;
                    FPlayback->Pause();
                } else if (!minimized && FMinimized) {
                    FMinimized = false;
                    FPlayback->Resume();
                }
            }
            return false;
        default:
            return false;
        }
    }

private:
    bool KeyEvent(QKeyEvent* event) {
        if (event->key() != Qt::Key_Escape) return false;
        const bool playing = FPlayback && FPlayback->State() == TQelPlaybackState::Playing;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // No Escape shortcut fires ahead of the abort question.
            if (!playing && !FEscapeHeld) return false;
            event->accept();
            return true;
        case QEvent::KeyPress:
            // While the key is held after the question, its repeats would
            // answer the question box itself.
            if (FEscapeHeld) return true;
            if (!playing || event->isAutoRepeat()) return false;
            FEscapeHeld = true;
            FPlayback->QueryAbort();
            return true;
        default:  // KeyRelease
            if (!FEscapeHeld) return false;
            if (!event->isAutoRepeat()) {
                FEscapeHeld = false;
                if (!FPlayback) deleteLater();
            }
            return true;
        }
    }

    void ApplicationStateChanged(Qt::ApplicationState state) {
        if (!FPlayback) return;
        // Each source pauses at most once, so an unbalanced pair of state
        // changes cannot leave playback paused for good.
        const bool active = state == Qt::ApplicationActive;
        if (!active && !FDeactivated) {
            FDeactivated = true;
            FPlayback->Pause();
        } else if (active && FDeactivated) {
            FDeactivated = false;
            FPlayback->Resume();
        }
    }

    TQelDemoPlayback* FPlayback;
    QPointer<QWidget> FMainForm;
    bool FDeactivated = false;
    bool FMinimized = false;
    bool FEscapeHeld = false;
};

// ---------------------------------------------------------------------------
// Actions

TQelDemoScriptAction::TQelDemoScriptAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params)
    : FStarted(false), FPlayback(Playback), FParams() {
    if (Params) FParams.Assign(Params);
}

TQelDemoScriptAction::~TQelDemoScriptAction() = default;

void TQelDemoScriptAction::Step() {
    if (!FStarted) {
        FStarted = true;
        Start();
    }
}

QPoint TQelDemoScriptAction::GetTarget() {
    const QPoint from = FPlayback->GetCursorPos();
    if (FParams.Count() == 0) return from;
    if (FParams.IsNumeric(0) && FParams.IsNumeric(1)) return QPoint(FParams.AsInteger(0), FParams.AsInteger(1));
    QPoint target = from;
    if (FPlayback->DoGetPoint(FParams, target)) return target;
    FPlayback->ReportError(QelText(TextInvalidArguments, QStringLiteral("Invalid arguments.")).toUtf8());
    return from;
}

bool TQelDemoScriptMacroAction::IsDone() { return FIndex >= int(FActions.size()); }

void TQelDemoScriptMacroAction::Step() {
    TQelDemoScriptAction::Step();
    if (FIndex < int(FActions.size())) {
        TQelDemoScriptAction* current = FActions[size_t(FIndex)].get();
        current->Step();
        if (current->IsDone()) ++FIndex;
    }
}

void TQelDemoScriptMacroAction::Resume() {
    if (FIndex < int(FActions.size())) FActions[size_t(FIndex)]->Resume();
}

void TQelDemoScriptMacroAction::Add(std::unique_ptr<TQelDemoScriptAction> Action) {
    if (Action) FActions.push_back(std::move(Action));
}

TQelDemoScriptUserAction::TQelDemoScriptUserAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params,
                                                   const QByteArray& Command)
    : TQelDemoScriptMacroAction(Playback, Params), FCommand(Command.trimmed().toUpper()) {}

void TQelDemoScriptUserAction::Start() {
    bool handled = false;
    if (FPlayback->OnUserCommand) FPlayback->OnUserCommand(FPlayback, FCommand, FParams, this, handled);
    if (!handled)
        FPlayback->ReportError(
            QelFormatText(QelText(TextUnknownCommand, QStringLiteral("Unknown command: \"%s\"")), QString::fromUtf8(FCommand))
                .toUtf8());
}

void TQelDemoScriptMouseMoveAction::Start() {
    FFrom = FPlayback->GetCursorPos();
    FTarget = GetTarget();
    FDx = double(FTarget.x()) - double(FFrom.x());
    FDy = double(FTarget.y()) - double(FFrom.y());
    const double distance = std::sqrt(FDx * FDx + FDy * FDy);
    FCountedTime = 0;
    FTickRef = FPlayback->Now();
    // Speed is never 0 (SetSpeed refuses it); a zero distance ends at once.
    FDuration = distance == 0 ? 0 : RoundEven64(distance * 20.0 / double(std::max<uint16_t>(FPlayback->Speed(), 1)));
}

void TQelDemoScriptMouseMoveAction::Step() {
    TQelDemoScriptAction::Step();
    if (FDone) return;
    if (FDuration <= 0) {
        FPlayback->SetCursorPos(FTarget);
        FDone = true;
        return;
    }
    const int64_t now = FPlayback->Now();
    const double t = double(FCountedTime + (now - FTickRef)) / double(FDuration);
    if (t >= 1) {
        FPlayback->SetCursorPos(FTarget);
        FDone = true;
        return;
    }
    const double e = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
    double offX = 0;
    double offY = 0;
    if (FCurvature != 0 && FDx != 0 && FDy != 0) {
        const double distance = std::sqrt(FDx * FDx + FDy * FDy);
        const double s =
            std::sin(std::numbers::pi * e) * std::min(std::fabs(FDx), std::fabs(FDy)) / (FCurvature * distance);
        offX = s * FDy;
        offY = s * FDx;
    }
    FPlayback->SetCursorPos(QPoint(ClampToInt32(int64_t(FFrom.x()) + RoundEven64(FDx * e + offX)),
                                   ClampToInt32(int64_t(FFrom.y()) + RoundEven64(FDy * e + offY))));
    FCountedTime += now - FTickRef;
    FTickRef = now;
}

void TQelDemoScriptMouseMoveAction::Resume() { FTickRef = FPlayback->Now(); }

void TQelDemoScriptMouseCurvedMoveAction::Start() {
    TQelDemoScriptMouseMoveAction::Start();
    FCurvature = 3;
}

void TQelDemoScriptMouseToAction::Start() { FTarget = GetTarget(); }

void TQelDemoScriptMouseToAction::Step() {
    TQelDemoScriptAction::Step();
    FPlayback->SetCursorPos(FTarget);
}

void TQelDemoScriptMouseSpeedAction::Start() {
    // Rounded before the range test: 0.4 would otherwise become a speed of 0
    // and -5 a speed of 65531.
    if (!FParams.IsNumeric(0)) return;
    const double speed = std::nearbyint(FParams.AsDouble(0));
    if (speed >= 1 && speed <= std::numeric_limits<uint16_t>::max()) FPlayback->SetSpeed(uint16_t(speed));
}

void TQelDemoScriptPauseAction::Start() {
    FDuration = FParams.IsNumeric(0) ? RoundEven64(FParams.AsDouble(0) * 1000.0) : 1000;
    FCountedTime = 0;
    FTickRef = FPlayback->Now();
}

bool TQelDemoScriptPauseAction::IsDone() { return FCountedTime >= FDuration; }

void TQelDemoScriptPauseAction::Step() {
    TQelDemoScriptAction::Step();
    if (IsDone()) return;
    const int64_t now = FPlayback->Now();
    FCountedTime += now - FTickRef;
    FTickRef = now;
    FPlayback->SetCursorPos(FPlayback->GetCursorPos());
}

void TQelDemoScriptPauseAction::Resume() { FTickRef = FPlayback->Now(); }

TQelDemoScriptBalloonAction::~TQelDemoScriptBalloonAction() {
    SetApplicationHints(true);
    FBalloon.reset();
    if (FPointerHidden) ShowPointer();
}

void TQelDemoScriptBalloonAction::Start() {
    FDuration = 3000;
    FCorner = 0;
    if (FParams.Count() > 0) {
        FText = FPlayback->Script().GetMessageText(FParams.AsText(0));
        if (FParams.IsNumeric(1)) FDuration = RoundEven64(FParams.AsDouble(1) * 1000.0);
        if (FParams.IsNumeric(2)) {
            const double corner = FParams.AsDouble(2);
            if (corner > 0 && corner <= 4) FCorner = FParams.AsInteger(2);
        }
    }
    FAnchor = FPlayback->GetCursorPos();
    FBalloon = std::make_unique<TQelBalloon>();
    FBalloon->setCursor(Qt::BlankCursor);
    if (FText.isEmpty()) return;
    ShowBalloon();
    FCountedTime = 0;
    FTickRef = FPlayback->Now();
}

bool TQelDemoScriptBalloonAction::IsDone() {
    return (FStarted && FText.isEmpty()) || TQelDemoScriptPauseAction::IsDone();
}

void TQelDemoScriptBalloonAction::Pause() {
    if (FPointerHidden) HideBalloon();
}

void TQelDemoScriptBalloonAction::Resume() {
    TQelDemoScriptPauseAction::Resume();
    if (FStarted && FBalloon && !FText.isEmpty() && !FPointerHidden) ShowBalloon();
}

void TQelDemoScriptBalloonAction::ShowBalloon() {
    SetApplicationHints(false);
    FBalloon->ShowAt(FAnchor.x(), FAnchor.y(), FCorner, FText);
    if (!FPointerHidden) {
        HidePointer();
        FPointerHidden = true;
    }
}

void TQelDemoScriptBalloonAction::HideBalloon() {
    SetApplicationHints(true);
    if (FBalloon) FBalloon->HideBalloon();
    if (FPointerHidden) {
        ShowPointer();
        FPointerHidden = false;
    }
}

TQelDemoScriptButtonAction::TQelDemoScriptButtonAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params,
                                                       Qt::MouseButton Button, bool Down)
    : TQelDemoScriptAction(Playback, Params), FButton(Button), FDown(Down) {}

void TQelDemoScriptButtonAction::Step() {
    TQelDemoScriptAction::Step();
    FPlayback->SendButton(FButton, FDown);
}

// ---------------------------------------------------------------------------
// The playback

TQelDemoPlayback::TQelDemoPlayback()
    : FScript(),
      FLineIndex(0),
      FRecordIndex(0),
      FState(TQelPlaybackState::Idle),
      FPauseCount(0),
      FCurrentAction(),
      FMouseSpeed(DefaultSpeed),
      FCursorPos(),
      FMouseSynth(nullptr),
      FClock(),
      FElapsed(),
      FTimer(),
      FAutoTick(true),
      FInTick(false),
      FHeldButtons(Qt::NoButton),
      FHooks() {
    FScript.New();
    FElapsed.start();
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.callOnTimeout([this] { OnTimer(); });
}

TQelDemoPlayback::~TQelDemoPlayback() {
    FTimer.stop();
    FCurrentAction.reset();
    ReleaseHeldButtons();
    UnhookApplication();
}

void TQelDemoPlayback::SetScript(const TQelDemoScript& Script) { FScript.Assign(Script); }

bool TQelDemoPlayback::Play(int StartLine) {
    if (IsPlaying() || IsRecording()) return false;
    // A stop whose clean-up the next tick has not done yet is finished here,
    // or the old action would run first and the old hooks stay.
    FinishStop();
    bool cancel = false;
    if (OnBeforePlay) OnBeforePlay(this, cancel);
    if (cancel) return false;
    FState = TQelPlaybackState::Playing;
    FLineIndex = std::max(StartLine, 0);
    FPauseCount = 0;
    FCursorPos = MouseSynth()->GetPos();
    HookApplication();
    if (FAutoTick) FTimer.start(0);
    return true;
}

void TQelDemoPlayback::Pause() {
    ++FPauseCount;
    if (FState == TQelPlaybackState::Playing) {
        if (FCurrentAction) FCurrentAction->Pause();
        FState = TQelPlaybackState::Paused;
        if (OnPause) OnPause(this);
    }
}

void TQelDemoPlayback::Resume() {
    --FPauseCount;
    if (FPauseCount <= 0 && FState == TQelPlaybackState::Paused) {
        if (OnResume) OnResume(this);
        if (FCurrentAction) FCurrentAction->Resume();
        FState = TQelPlaybackState::Playing;
    }
}

bool TQelDemoPlayback::QueryAbort() {
    if (!IsPlaying()) return false;
    Pause();
    bool abort = true;
    if (OnAbortQuery) OnAbortQuery(this, abort);
    if (abort) FState = TQelPlaybackState::Stopped;
    Resume();
    return abort;
}

void TQelDemoPlayback::ReportError(const QByteArray& Msg) {
    Pause();
    bool stop = true;
    if (OnError) OnError(this, Msg, CurrentLineText(), stop);
    // Outside playback there is nothing to stop; a recording goes on.
    if (stop && IsPlaying()) FState = TQelPlaybackState::Stopped;
    Resume();
}

QByteArray TQelDemoPlayback::CurrentLineText() const {
    const QByteArrayList* lines = FScript.ScriptLines();
    if (lines && FLineIndex >= 0 && FLineIndex < lines->size()) return lines->at(FLineIndex);
    return QByteArray();
}

bool TQelDemoPlayback::StartRecording(int Index) {
    if (IsPlaying() || IsRecording()) return false;
    FinishStop();
    const QByteArrayList* lines = FScript.ScriptLines();
    const int count = lines ? int(lines->size()) : 0;
    FRecordIndex = Index >= 0 && Index < count ? Index : count;
    if (OnStartRecording) OnStartRecording(this);
    FState = TQelPlaybackState::Recording;
    return true;
}

void TQelDemoPlayback::StopRecording() {
    if (FState != TQelPlaybackState::Recording) return;
    if (OnStopRecording) OnStopRecording(this);
    FState = TQelPlaybackState::Stopped;
}

void TQelDemoPlayback::RecordLine(const QByteArray& Line) {
    QByteArrayList* lines = FScript.ScriptLines();
    if (!lines) lines = &FScript.GetSection(FScript.AddSection("Script"));
    // The script may have been edited since recording started.
    const int index = std::clamp(FRecordIndex, 0, int(lines->size()));
    lines->insert(index, Line);
    FRecordIndex = index + 1;
    if (OnRecordLine) OnRecordLine(this, index, Line);
}

void TQelDemoPlayback::SetCursorPos(const QPoint& Point) {
    FCursorPos = Point;
    MouseSynth()->SetPos(Point);
}

void TQelDemoPlayback::SetSpeed(uint16_t Value) {
    if (Value != 0) FMouseSpeed = Value;
}

bool TQelDemoPlayback::DoGetPoint(const TQelDemoScriptParams& Params, QPoint& Point) {
    bool handled = false;
    if (OnGetPoint) OnGetPoint(this, Params, Point, handled);
    return handled;
}

void TQelDemoPlayback::SendButton(Qt::MouseButton Button, bool Down) {
    MouseSynth()->Button(Button, Down);
    FHeldButtons.setFlag(Button, Down);
}

void TQelDemoPlayback::ReleaseHeldButtons() {
    const Qt::MouseButtons held = FHeldButtons;
    FHeldButtons = Qt::NoButton;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton})
        if (held.testFlag(button)) MouseSynth()->Button(button, false);
}

std::unique_ptr<TQelDemoScriptAction> TQelDemoPlayback::ParseLine(const QByteArray& Line) {
    QByteArray command;
    QByteArray arguments;
    if (!QelSplitScriptLine(Line, command, arguments)) return nullptr;
    TQelDemoScriptParams params;
    if (!arguments.isEmpty()) params.ParseText(arguments);
    std::unique_ptr<TQelDemoScriptAction> action = CreateBuiltInAction(command, params);
    if (!action) action = std::make_unique<TQelDemoScriptUserAction>(this, &params, command);
    return action;
}

std::unique_ptr<TQelDemoScriptAction> TQelDemoPlayback::CreateBuiltInAction(const QByteArray& Command,
                                                                            const TQelDemoScriptParams& Params) {
    const TQelDemoScriptParams* params = &Params;
    auto macro = [&](std::initializer_list<TQelDemoScriptAction*> actions) {
        auto result = std::make_unique<TQelDemoScriptMacroAction>(this, params);
        for (TQelDemoScriptAction* action : actions) result->Add(std::unique_ptr<TQelDemoScriptAction>(action));
        return result;
    };
    // Within a macro only the move takes the line's arguments.
    auto leftDown = [this] { return new TQelDemoScriptMouseLeftDownAction(this, nullptr); };
    auto leftUp = [this] { return new TQelDemoScriptMouseLeftUpAction(this, nullptr); };

    if (Command == "PAUSE") return std::make_unique<TQelDemoScriptPauseAction>(this, params);
    if (Command == "MESSAGE") return std::make_unique<TQelDemoScriptBalloonAction>(this, params);
    if (Command == "MOUSETO") return std::make_unique<TQelDemoScriptMouseToAction>(this, params);
    if (Command == "MOUSEMOVE") return std::make_unique<TQelDemoScriptMouseMoveAction>(this, params);
    if (Command == "MOUSECURVEDMOVE") return std::make_unique<TQelDemoScriptMouseCurvedMoveAction>(this, params);
    if (Command == "MOUSECLICK" || Command == "MOUSELEFTCLICK")
        return macro({new TQelDemoScriptMouseMoveAction(this, params), leftDown(), leftUp()});
    if (Command == "MOUSEDRAG" || Command == "MOUSEDRAGANDDROP")
        return macro({leftDown(), new TQelDemoScriptMouseCurvedMoveAction(this, params), leftUp()});
    if (Command == "MOUSEDBLCLICK" || Command == "MOUSELEFTDBLCLICK")
        return macro({new TQelDemoScriptMouseCurvedMoveAction(this, params), leftDown(), leftUp(), leftDown(), leftUp()});
    if (Command == "MOUSERIGHTCLICK")
        return macro({new TQelDemoScriptMouseCurvedMoveAction(this, params),
                      new TQelDemoScriptMouseRightDownAction(this, nullptr),
                      new TQelDemoScriptMouseRightUpAction(this, nullptr)});
    if (Command == "MOUSEDOWN" || Command == "MOUSELEFTDOWN")
        return std::make_unique<TQelDemoScriptMouseLeftDownAction>(this, params);
    if (Command == "MOUSEUP" || Command == "MOUSELEFTUP")
        return std::make_unique<TQelDemoScriptMouseLeftUpAction>(this, params);
    if (Command == "MOUSERIGHTDOWN") return std::make_unique<TQelDemoScriptMouseRightDownAction>(this, params);
    if (Command == "MOUSERIGHTUP") return std::make_unique<TQelDemoScriptMouseRightUpAction>(this, params);
    if (Command == "MOUSESPEED") return std::make_unique<TQelDemoScriptMouseSpeedAction>(this, params);
    return nullptr;
}

bool TQelDemoPlayback::Tick() {
    // A tick that opens a modal loop must not be entered again from it.
    if (FInTick) return IsPlaying();
    FInTick = true;
    const auto leaveTick = qScopeGuard([this] { FInTick = false; });

    if (FState == TQelPlaybackState::Playing) {
        try {
            if (!FCurrentAction) {
                const QByteArrayList* lines = FScript.ScriptLines();
                const int count = lines ? int(lines->size()) : 0;
                if (FLineIndex < count) {
                    FCurrentAction = ParseLine(lines->at(FLineIndex));
                } else {
                    FState = TQelPlaybackState::Idle;
                    UnhookApplication();
                    ReleaseHeldButtons();
                    if (OnFinish) OnFinish(this);
                    // OnFinish may have started playing again from line 0.
                    return IsPlaying();
                }
            }
            if (FCurrentAction) {
                FCurrentAction->Step();
                if (FCurrentAction && FCurrentAction->IsDone()) FCurrentAction.reset();
            }
            if (!FCurrentAction) ++FLineIndex;
        } catch (const std::exception& error) {
            // A line that does not parse or a command that fails counts as an
            // error of that line: without a handler that lets it go on,
            // playback stops.
            FCurrentAction.reset();
            ReportError(QelExceptionText(error).toUtf8());
            if (IsPlaying()) ++FLineIndex;
        }
    }
    if (FState == TQelPlaybackState::Stopped) {
        FinishStop();
        return false;
    }
    return IsPlaying();
}

void TQelDemoPlayback::OnTimer() {
    bool again = false;
    try {
        again = Tick();
    } catch (...) {
        // Something in an error handler threw: playback ends here rather than
        // staying "playing" without a tick, and the error goes on to the
        // application's handler.
        if (IsPlaying()) FState = TQelPlaybackState::Stopped;
        FinishStop();
        throw;
    }
    if (again && FAutoTick) FTimer.start(TickInterval);
}

void TQelDemoPlayback::FinishStop() {
    FTimer.stop();
    UnhookApplication();
    FCurrentAction.reset();
    ReleaseHeldButtons();
}

void TQelDemoPlayback::HookApplication() {
    if (FHooks || !qApp) return;
    FHooks = new TQelDemoPlaybackHooks(this, qApp);
}

void TQelDemoPlayback::UnhookApplication() {
    if (auto* hooks = static_cast<TQelDemoPlaybackHooks*>(FHooks.data())) hooks->Detach();
    FHooks = nullptr;
}

void TQelDemoPlayback::SetMouseSynth(IQelMouseSynth* Synth) { FMouseSynth = Synth; }

IQelMouseSynth* TQelDemoPlayback::MouseSynth() const { return FMouseSynth ? FMouseSynth : QelMouseSynth(); }

void TQelDemoPlayback::SetClock(TClock Clock) { FClock = std::move(Clock); }

int64_t TQelDemoPlayback::Now() const { return FClock ? FClock() : FElapsed.elapsed(); }
