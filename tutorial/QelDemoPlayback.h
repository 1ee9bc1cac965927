// The tutorial player and recorder: plays a script's lines on the program's
// own window, moving the real pointer in eased paths, pressing the real
// buttons, waiting and explaining steps in balloons, one line after the
// other, driven by a 10 ms tick on the UI thread. While it records, the
// modules insert script lines into its script through it.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "QelDemoScript.h"

class IQelMouseSynth;
class TQelBalloon;
class TQelDemoPlayback;

// ---------------------------------------------------------------------------
// Actions: what one script line does, stepped once per tick.

class TQelDemoScriptAction {
public:
    // The action keeps its own copy of the parameters (none: an empty list).
    TQelDemoScriptAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params);
    virtual ~TQelDemoScriptAction();
    TQelDemoScriptAction(const TQelDemoScriptAction&) = delete;
    TQelDemoScriptAction& operator=(const TQelDemoScriptAction&) = delete;

    // Prepares the action; run by the first Step.
    virtual void Start() {}
    virtual bool IsDone() { return true; }
    // One tick's work.
    virtual void Step();
    virtual void Pause() {}
    virtual void Resume() {}

    TQelDemoPlayback* Playback() const { return FPlayback; }
    const TQelDemoScriptParams& Params() const { return FParams; }
    bool Started() const { return FStarted; }

protected:
    // Where a move goes: no arguments, the remembered position; two numbers,
    // that screen point; otherwise the element the first argument names.
    QPoint GetTarget();

    bool FStarted;
    TQelDemoPlayback* FPlayback;
    TQelDemoScriptParams FParams;
};

// Runs its sub-actions one after the other; each starts on the tick after the
// previous one ended.
class TQelDemoScriptMacroAction : public TQelDemoScriptAction {
public:
    using TQelDemoScriptAction::TQelDemoScriptAction;

    bool IsDone() override;
    void Step() override;
    void Resume() override;
    // A missing action is ignored.
    void Add(std::unique_ptr<TQelDemoScriptAction> Action);

    int Count() const { return int(FActions.size()); }
    int Index() const { return FIndex; }

protected:
    std::vector<std::unique_ptr<TQelDemoScriptAction>> FActions;
    int FIndex = 0;
};

// A command that is not built in: the playback's OnUserCommand carries it
// out, or adds sub-actions that then run like a macro.
class TQelDemoScriptUserAction : public TQelDemoScriptMacroAction {
public:
    TQelDemoScriptUserAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params, const QByteArray& Command);

    void Start() override;
    const QByteArray& Command() const { return FCommand; }

private:
    QByteArray FCommand;  // trimmed, upper case
};

// A straight move with ease-in and ease-out.
class TQelDemoScriptMouseMoveAction : public TQelDemoScriptAction {
public:
    using TQelDemoScriptAction::TQelDemoScriptAction;

    void Start() override;
    bool IsDone() override { return FDone; }
    void Step() override;
    void Resume() override;

    QPoint From() const { return FFrom; }
    QPoint Target() const { return FTarget; }
    int64_t Duration() const { return FDuration; }

protected:
    QPoint FFrom;
    QPoint FTarget;
    int64_t FDuration = 0;
    int64_t FCountedTime = 0;
    int64_t FTickRef = 0;
    double FDx = 0;
    double FDy = 0;
    double FCurvature = 0;
    bool FDone = false;
};

// The same move bowed sideways.
class TQelDemoScriptMouseCurvedMoveAction : public TQelDemoScriptMouseMoveAction {
public:
    using TQelDemoScriptMouseMoveAction::TQelDemoScriptMouseMoveAction;
    void Start() override;
};

// Puts the pointer on the target at once.
class TQelDemoScriptMouseToAction : public TQelDemoScriptAction {
public:
    using TQelDemoScriptAction::TQelDemoScriptAction;
    void Start() override;
    void Step() override;

private:
    QPoint FTarget;
};

class TQelDemoScriptMouseSpeedAction : public TQelDemoScriptAction {
public:
    using TQelDemoScriptAction::TQelDemoScriptAction;
    void Start() override;
};

// Waits, holding the pointer on the remembered position.
class TQelDemoScriptPauseAction : public TQelDemoScriptAction {
public:
    using TQelDemoScriptAction::TQelDemoScriptAction;

    void Start() override;
    bool IsDone() override;
    void Step() override;
    void Resume() override;

    int64_t Duration() const { return FDuration; }

protected:
    int64_t FDuration = 0;
    int64_t FCountedTime = 0;
    int64_t FTickRef = 0;
};

// A pause that shows a balloon at the remembered pointer position, with the
// pointer hidden.
class TQelDemoScriptBalloonAction : public TQelDemoScriptPauseAction {
public:
    using TQelDemoScriptPauseAction::TQelDemoScriptPauseAction;
    ~TQelDemoScriptBalloonAction() override;

    void Start() override;
    bool IsDone() override;
    void Pause() override;
    void Resume() override;

    TQelBalloon* Balloon() const { return FBalloon.get(); }
    const QString& Text() const { return FText; }
    int Corner() const { return FCorner; }
    QPoint Anchor() const { return FAnchor; }

private:
    void ShowBalloon();
    void HideBalloon();

    bool FPointerHidden = false;
    QPoint FAnchor;
    QString FText;
    std::unique_ptr<TQelBalloon> FBalloon;
    int FCorner = 0;
};

// One press or release at the pointer's position.
class TQelDemoScriptButtonAction : public TQelDemoScriptAction {
public:
    TQelDemoScriptButtonAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params, Qt::MouseButton Button,
                               bool Down);
    void Step() override;

private:
    Qt::MouseButton FButton;
    bool FDown;
};

class TQelDemoScriptMouseLeftDownAction : public TQelDemoScriptButtonAction {
public:
    TQelDemoScriptMouseLeftDownAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params)
        : TQelDemoScriptButtonAction(Playback, Params, Qt::LeftButton, true) {}
};

class TQelDemoScriptMouseLeftUpAction : public TQelDemoScriptButtonAction {
public:
    TQelDemoScriptMouseLeftUpAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params)
        : TQelDemoScriptButtonAction(Playback, Params, Qt::LeftButton, false) {}
};

class TQelDemoScriptMouseRightDownAction : public TQelDemoScriptButtonAction {
public:
    TQelDemoScriptMouseRightDownAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params)
        : TQelDemoScriptButtonAction(Playback, Params, Qt::RightButton, true) {}
};

class TQelDemoScriptMouseRightUpAction : public TQelDemoScriptButtonAction {
public:
    TQelDemoScriptMouseRightUpAction(TQelDemoPlayback* Playback, const TQelDemoScriptParams* Params)
        : TQelDemoScriptButtonAction(Playback, Params, Qt::RightButton, false) {}
};

// ---------------------------------------------------------------------------
// The player and recorder.

enum class TQelPlaybackState : uint8_t { Idle = 0, Playing = 1, Paused = 2, Stopped = 3, Recording = 4 };

class TQelDemoPlayback {
public:
    using TNotifyEvent = std::function<void(TQelDemoPlayback* Sender)>;
    using TErrorEvent =
        std::function<void(TQelDemoPlayback* Sender, const QByteArray& Msg, const QByteArray& Line, bool& Stop)>;
    using TCancelEvent = std::function<void(TQelDemoPlayback* Sender, bool& Cancel)>;
    using TGetPointEvent =
        std::function<void(TQelDemoPlayback* Sender, const TQelDemoScriptParams& Params, QPoint& Point, bool& Handled)>;
    using TUserCommandEvent =
        std::function<void(TQelDemoPlayback* Sender, const QByteArray& Command, const TQelDemoScriptParams& Params,
                           TQelDemoScriptUserAction* Action, bool& Handled)>;
    using TRecordLineEvent = std::function<void(TQelDemoPlayback* Sender, int Index, const QByteArray& Line)>;
    // Milliseconds from a fixed start, never going back.
    using TClock = std::function<int64_t()>;

    static constexpr int TickInterval = 10;  // ms between ticks
    static constexpr uint16_t DefaultSpeed = 5;

    TQelDemoPlayback();
    ~TQelDemoPlayback();
    TQelDemoPlayback(const TQelDemoPlayback&) = delete;
    TQelDemoPlayback& operator=(const TQelDemoPlayback&) = delete;

    // The owned script becomes a copy of Script.
    void SetScript(const TQelDemoScript& Script);
    TQelDemoScript& Script() { return FScript; }
    const TQelDemoScript& Script() const { return FScript; }

    // Starts playing at StartLine; false while playing, paused or recording,
    // or when OnBeforePlay cancels.
    bool Play(int StartLine);
    void Pause();
    void Resume();
    // Asks OnAbortQuery (no handler: yes) and stops when the answer is yes.
    bool QueryAbort();
    // Tells OnError (no handler: stop) and stops when it says so.
    void ReportError(const QByteArray& Msg);
    bool IsPlaying() const { return FState == TQelPlaybackState::Playing || FState == TQelPlaybackState::Paused; }
    bool IsRecording() const { return FState == TQelPlaybackState::Recording; }

    // Records from line Index on (an index outside the script appends); false
    // while playing, paused or recording.
    bool StartRecording(int Index);
    void StopRecording();
    // Inserts Line at the record index; callers check IsRecording.
    void RecordLine(const QByteArray& Line);

    // The remembered pointer position every move starts from (not the real
    // one, which the user may have nudged).
    QPoint GetCursorPos() const { return FCursorPos; }
    // Remembers Point and moves the real pointer there.
    void SetCursorPos(const QPoint& Point);
    // 0 is not a speed and is ignored.
    void SetSpeed(uint16_t Value);
    uint16_t Speed() const { return FMouseSpeed; }

    // Asks OnGetPoint for the point of the element Params names.
    bool DoGetPoint(const TQelDemoScriptParams& Params, QPoint& Point);

    // One step of playback on the UI thread; false when playback is over.
    bool Tick();

    // One press or release through the input service, remembered so that
    // stopping can release what is still held.
    void SendButton(Qt::MouseButton Button, bool Down);

    // The action a line describes; none for a comment. Throws EQelError for
    // arguments that do not parse.
    std::unique_ptr<TQelDemoScriptAction> ParseLine(const QByteArray& Line);

    // The clock moves and pauses count with.
    int64_t Now() const;

    TQelPlaybackState State() const { return FState; }
    int LineIndex() const { return FLineIndex; }
    int PauseCount() const { return FPauseCount; }
    TQelDemoScriptAction* CurrentAction() const { return FCurrentAction.get(); }
    Qt::MouseButtons HeldButtons() const { return FHeldButtons; }

    // Replaceable services: tests give a fake pointer and clock and call Tick
    // themselves.
    void SetMouseSynth(IQelMouseSynth* Synth);
    // The injected service, else the program's.
    IQelMouseSynth* MouseSynth() const;
    void SetClock(TClock Clock);
    // When off, Play starts no timer and whoever drives playback calls Tick.
    void SetAutoTick(bool Value) { FAutoTick = Value; }

    TNotifyEvent OnResume;
    TNotifyEvent OnPause;
    TErrorEvent OnError;
    TCancelEvent OnBeforePlay;
    TCancelEvent OnAbortQuery;
    TNotifyEvent OnFinish;
    TGetPointEvent OnGetPoint;
    TUserCommandEvent OnUserCommand;

    TNotifyEvent OnStopRecording;
    TNotifyEvent OnStartRecording;
    TRecordLineEvent OnRecordLine;

    // Whether recording sites write a Message line before a recorded action.
    bool ShowMessages = true;

private:
    friend class TQelDemoPlaybackHooks;

    std::unique_ptr<TQelDemoScriptAction> CreateBuiltInAction(const QByteArray& Command,
                                                              const TQelDemoScriptParams& Params);
    void HookApplication();
    void UnhookApplication();
    // What a stop leaves to do: hooks off, the action freed, the buttons
    // playback holds released, the timer stopped.
    void FinishStop();
    void ReleaseHeldButtons();
    void OnTimer();
    QByteArray CurrentLineText() const;

    TQelDemoScript FScript;
    int FLineIndex = 0;
    int FRecordIndex = 0;
    TQelPlaybackState FState = TQelPlaybackState::Idle;
    int FPauseCount = 0;
    std::unique_ptr<TQelDemoScriptAction> FCurrentAction;
    uint16_t FMouseSpeed = DefaultSpeed;
    QPoint FCursorPos;

    IQelMouseSynth* FMouseSynth = nullptr;
    TClock FClock;
    QElapsedTimer FElapsed;
    QTimer FTimer;
    bool FAutoTick = true;
    bool FInTick = false;
    Qt::MouseButtons FHeldButtons = Qt::NoButton;
    // The application hooks while playing (a TQelDemoPlaybackHooks).
    QPointer<QObject> FHooks;
};
