// The player and recorder driven tick by tick with a fake pointer and a fake
// clock: paths, timing, the state machine, events and recording.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <vector>

#include "QelBalloon.h"
#include "QelDemoPlayback.h"
#include "QelMouseSynth.h"

namespace {

struct TFakeButton {
    Qt::MouseButton Button;
    bool Down;
    QPoint At;
    friend bool operator==(const TFakeButton&, const TFakeButton&) = default;
};

class TFakeSynth : public IQelMouseSynth {
public:
    QPoint GetPos() override { return Pos; }
    void SetPos(const QPoint& p) override { Moves.push_back(Pos = p); }
    void Button(Qt::MouseButton which, bool down) override { Buttons.push_back({which, down, Pos}); }

    QPoint Pos;
    std::vector<QPoint> Moves;
    std::vector<TFakeButton> Buttons;
};

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        Playback.SetMouseSynth(&Synth);
        Playback.SetClock([this] { return Now; });
        Playback.SetAutoTick(false);
        Playback.OnFinish = [this](TQelDemoPlayback*) { ++Finished; };
    }

    void Start(const QByteArrayList& lines, QPoint from = QPoint(0, 0)) {
        *Playback.Script().ScriptLines() = lines;
        Synth.Pos = from;
        Synth.Moves.clear();
        Synth.Buttons.clear();
        ASSERT_TRUE(Playback.Play(0));
    }

    // Advances the clock by Ms, then ticks.
    bool TickAfter(int64_t ms) {
        Now += ms;
        return Playback.Tick();
    }

    int RunToEnd(int64_t stepMs = 10) {
        int ticks = 1;
        while (Playback.Tick() && ticks < 10000) {
            Now += stepMs;
            ++ticks;
        }
        return ticks;
    }

    TFakeSynth Synth;
    int64_t Now = 1000;
    int Finished = 0;
    TQelDemoPlayback Playback;  // after the fakes: it releases buttons through them when freed
};

TEST_F(PlaybackTest, LinesRunOneAfterTheOtherAndTheEndIsReportedOnce) {
    Start({"# a comment", "MouseTo 10, 20", "MouseLeftDown", "MouseLeftUp"});
    EXPECT_TRUE(Playback.Tick());  // the comment costs one tick
    EXPECT_TRUE(Synth.Moves.empty());
    EXPECT_TRUE(Playback.Tick());
    EXPECT_EQ(Synth.Moves, std::vector<QPoint>{QPoint(10, 20)});
    EXPECT_TRUE(Playback.Tick());
    EXPECT_TRUE(Playback.Tick());
    EXPECT_EQ(Synth.Buttons, (std::vector<TFakeButton>{{Qt::LeftButton, true, QPoint(10, 20)},
                                                       {Qt::LeftButton, false, QPoint(10, 20)}}));
    EXPECT_EQ(Finished, 0);
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(Finished, 1);
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Idle);

    Start({});  // an empty script ends on its first tick
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(Finished, 2);
}

TEST_F(PlaybackTest, MovesEaseAndRoundHalvesToEven) {
    // 500 pixels at speed 5 take 2 s.
    Start({"MouseMove 0, 0", "MouseMove 20, 0"}, QPoint(300, 400));
    Playback.Tick();
    auto* move = dynamic_cast<TQelDemoScriptMouseMoveAction*>(Playback.CurrentAction());
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(move->Duration(), 2000);
    TickAfter(500);  // t 0.25 eases to 0.125
    EXPECT_EQ(Synth.Pos, QPoint(262, 350));
    TickAfter(500);
    EXPECT_EQ(Synth.Pos, QPoint(150, 200));
    TickAfter(500);  // -262.5 goes to -262
    EXPECT_EQ(Synth.Pos, QPoint(38, 50));
    TickAfter(500);
    EXPECT_EQ(Synth.Pos, QPoint(0, 0));
    EXPECT_EQ(Playback.CurrentAction(), nullptr);

    Playback.Tick();
    TickAfter(20);  // 2.5 pixels: 2, not 3
    EXPECT_EQ(Synth.Pos, QPoint(2, 0));
    RunToEnd();
    EXPECT_EQ(Synth.Pos, QPoint(20, 0));

    Start({"MouseCurvedMove 100, 100"}, QPoint(100, 100));  // no distance: done at once
    Playback.Tick();
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
    EXPECT_EQ(Synth.Moves, std::vector<QPoint>{QPoint(100, 100)});
}

TEST_F(PlaybackTest, CurvedMoveBowsSidewaysOnlyWhenBothAxesChange) {
    Start({"MouseCurvedMove 100, 100", "MouseCurvedMove 200, 150"});
    Playback.Tick();
    EXPECT_EQ(dynamic_cast<TQelDemoScriptMouseMoveAction*>(Playback.CurrentAction())->Duration(), 566);
    TickAfter(283);
    EXPECT_EQ(Synth.Pos, QPoint(74, 74));  // the offset runs along the diagonal
    TickAfter(300);
    // The x offset follows dy and the y offset dx: (100, 50) away, 100 of 447 ms in.
    Playback.Tick();
    TickAfter(100);
    EXPECT_EQ(Synth.Pos, QPoint(112, 110));
    RunToEnd();
    EXPECT_EQ(Synth.Pos, QPoint(200, 150));

    Start({"MouseCurvedMove 200, 0"});
    RunToEnd(7);
    ASSERT_GT(Synth.Moves.size(), 10u);
    for (const QPoint& p : Synth.Moves) EXPECT_EQ(p.y(), 0);
}

TEST_F(PlaybackTest, MouseSpeedTakesOnlyWholeSpeedsFromOneUp) {
    Start({"MouseSpeed 0", "MouseSpeed 0.4", "MouseSpeed -5", "MouseSpeed 70000", "MouseSpeed", "MouseSpeed x"});
    RunToEnd();
    EXPECT_EQ(Playback.Speed(), 5);
    Playback.SetSpeed(0);
    EXPECT_EQ(Playback.Speed(), 5);

    Start({"MouseSpeed 9.6", "MouseMove 100, 0"});
    Playback.Tick();
    Playback.Tick();
    EXPECT_EQ(Playback.Speed(), 10);
    EXPECT_EQ(dynamic_cast<TQelDemoScriptMouseMoveAction*>(Playback.CurrentAction())->Duration(), 200);
}

TEST_F(PlaybackTest, PausedTimeDoesNotCountAndPausesNest) {
    int paused = 0, resumed = 0;
    Playback.OnPause = [&](TQelDemoPlayback*) { ++paused; };
    Playback.OnResume = [&](TQelDemoPlayback*) { ++resumed; };
    Start({"Pause 0.5"}, QPoint(7, 8));
    Playback.Tick();
    TickAfter(200);
    Synth.Pos = QPoint(50, 50);  // the user nudges the pointer
    Playback.Pause();
    Playback.Pause();
    EXPECT_TRUE(TickAfter(5000));
    Playback.Resume();
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Paused);
    Playback.Resume();
    EXPECT_EQ(paused, 1);
    EXPECT_EQ(resumed, 1);
    TickAfter(290);
    EXPECT_NE(Playback.CurrentAction(), nullptr);
    EXPECT_EQ(Synth.Pos, QPoint(7, 8));  // held on the remembered position
    TickAfter(10);
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
}

TEST_F(PlaybackTest, ErrorsStopPlaybackUnlessTheHandlerLetsItGoOn) {
    Start({"Frobnicate 1", "MouseTo 5, 5"});  // no handler: every error stops
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Stopped);
    EXPECT_TRUE(Synth.Moves.empty());

    QByteArrayList errors;
    bool stop = false;
    Playback.OnError = [&](TQelDemoPlayback*, const QByteArray& msg, const QByteArray& line, bool& s) {
        errors << msg + "|" + line;
        s = stop;
    };
    Start({"  frobnicate(1)", "MouseMove Nowhere", "Pause 1-2", "MouseTo 5, 5"}, QPoint(3, 4));
    RunToEnd();
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[0], "Unknown command: \"FROBNICATE\"|  frobnicate(1)");
    EXPECT_EQ(errors[1], "Invalid arguments.|MouseMove Nowhere");
    EXPECT_TRUE(errors[2].endsWith("|Pause 1-2"));  // a number that does not convert
    EXPECT_EQ(Synth.Moves.front(), QPoint(3, 4));   // the failed move stays where it was
    EXPECT_EQ(Synth.Pos, QPoint(5, 5));
    EXPECT_EQ(Finished, 1);  // the end is reported only for a script played to its end
    EXPECT_EQ(Playback.PauseCount(), 0);

    stop = true;  // a line that does not parse ends playback cleanly
    Start({"MouseDown", "MouseTo 1E, 3", "MouseTo 9, 9"});
    EXPECT_EQ(RunToEnd(), 2);
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Stopped);
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
    EXPECT_FALSE(Synth.Buttons.back().Down);
    EXPECT_EQ(Finished, 1);
}

TEST_F(PlaybackTest, ElementsAndUserCommandsGoToTheHandlers) {
    QByteArrayList commands;
    Playback.OnGetPoint = [](TQelDemoPlayback*, const TQelDemoScriptParams& params, QPoint& point, bool& handled) {
        handled = params.AsText(0) == "Image";
        point = QPoint(40 + params.AsInteger(1), 50 + params.AsInteger(2));
    };
    Playback.OnUserCommand = [&](TQelDemoPlayback* sender, const QByteArray& command,
                                 const TQelDemoScriptParams& params, TQelDemoScriptUserAction* action, bool& handled) {
        commands << command + ":" + QByteArray::fromStdString(params.AsText(0));
        handled = true;
        if (command == "GOTHERE") {
            TQelDemoScriptParams target;
            target.ParseText("7, 9");
            action->Add(std::make_unique<TQelDemoScriptMouseToAction>(sender, &target));
            action->Add(nullptr);
        }
    };
    Start({"MouseTo Image, 1, 2", "ZoomIn 3", "goThere"});
    Playback.Tick();
    EXPECT_EQ(Synth.Pos, QPoint(41, 52));
    Playback.Tick();
    EXPECT_EQ(Playback.CurrentAction(), nullptr);  // a plain command ends with its handler
    Playback.Tick();
    EXPECT_EQ(Synth.Pos, QPoint(7, 9));  // an added action starts in the command's tick
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(commands, QByteArrayList({"ZOOMIN:3", "GOTHERE:"}));
}

TEST_F(PlaybackTest, MacrosStepTheirPartsOnSuccessiveTicks) {
    Playback.SetSpeed(65535);  // moves of no time: only the parts' ticks count
    Start({"MouseRightClick", "MouseDblClick", "MouseDragAndDrop 60, 80"}, QPoint(5, 5));
    EXPECT_EQ(RunToEnd(), 12);  // each part starts on the tick after the last one ended
    const QPoint p(5, 5);
    EXPECT_EQ(Synth.Buttons,
              (std::vector<TFakeButton>{{Qt::RightButton, true, p},
                                        {Qt::RightButton, false, p},
                                        {Qt::LeftButton, true, p},
                                        {Qt::LeftButton, false, p},
                                        {Qt::LeftButton, true, p},
                                        {Qt::LeftButton, false, p},
                                        {Qt::LeftButton, true, p},  // a drag presses where the pointer is
                                        {Qt::LeftButton, false, QPoint(60, 80)}}));
}

TEST_F(PlaybackTest, StoppingReleasesTheButtonsPlaybackHolds) {
    int asked = 0;
    Playback.OnAbortQuery = [&](TQelDemoPlayback*, bool&) { ++asked; };
    Start({"MouseRightDown", "MouseDrag 300, 300"}, QPoint(10, 10));
    Playback.Tick();
    Playback.Tick();
    TickAfter(100);  // inside the drag
    EXPECT_EQ(Playback.HeldButtons(), Qt::LeftButton | Qt::RightButton);
    EXPECT_TRUE(Playback.QueryAbort());
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(Playback.IsPlaying());
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(Playback.HeldButtons(), Qt::NoButton);
    ASSERT_EQ(Synth.Buttons.size(), 4u);
    EXPECT_FALSE(Synth.Buttons[2].Down || Synth.Buttons[3].Down);
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
    EXPECT_EQ(Finished, 0);

    Playback.OnAbortQuery = [](TQelDemoPlayback*, bool& abort) { abort = false; };
    Start({"MouseDown", "Pause 0.1"});  // declined: plays on
    Playback.Tick();
    EXPECT_FALSE(Playback.QueryAbort());
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Playing);
    RunToEnd();  // and a script that ends with a button down lets go of it
    EXPECT_EQ(Playback.HeldButtons(), Qt::NoButton);
    EXPECT_FALSE(Synth.Buttons.back().Down);
}

TEST_F(PlaybackTest, PlayAndRecordAreRefusedWhileBusyAndAStopIsFinishedFirst) {
    bool cancel = true;
    Playback.OnBeforePlay = [&](TQelDemoPlayback*, bool& c) { c = cancel; };
    EXPECT_FALSE(Playback.Play(0));
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Idle);
    cancel = false;

    Start({"MouseDown", "Pause 5"});
    Playback.Tick();
    Playback.Tick();
    Playback.Pause();
    EXPECT_FALSE(Playback.Play(0));
    EXPECT_FALSE(Playback.StartRecording(0));
    Playback.Resume();

    // Stopped, and no tick has cleaned up yet: a new Play starts clean.
    Playback.QueryAbort();
    ASSERT_NE(Playback.CurrentAction(), nullptr);
    *Playback.Script().ScriptLines() = {"MouseTo 1, 2"};
    ASSERT_TRUE(Playback.Play(0));
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
    EXPECT_EQ(Playback.HeldButtons(), Qt::NoButton);
    Playback.Tick();
    EXPECT_EQ(Synth.Pos, QPoint(1, 2));
}

TEST_F(PlaybackTest, RecordingInsertsLinesInOrder) {
    QByteArrayList events;
    Playback.OnRecordLine = [&](TQelDemoPlayback*, int index, const QByteArray& line) {
        events << QByteArray::number(index) + line;
    };
    Playback.OnStartRecording = [&](TQelDemoPlayback*) { events << "start"; };
    Playback.OnStopRecording = [&](TQelDemoPlayback*) { events << "stop"; };
    QByteArrayList& lines = *Playback.Script().ScriptLines();

    lines = {"l0", "l1", "l2"};
    ASSERT_TRUE(Playback.StartRecording(1));
    EXPECT_FALSE(Playback.StartRecording(0));
    EXPECT_FALSE(Playback.Play(0));
    Playback.RecordLine("A");
    Playback.RecordLine("B");
    Playback.StopRecording();
    Playback.StopRecording();
    EXPECT_EQ(lines, QByteArrayList({"l0", "A", "B", "l1", "l2"}));
    EXPECT_EQ(events, QByteArrayList({"start", "1A", "2B", "stop"}));
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Stopped);

    for (int index : {-1, 3, 5}) {
        lines = {"l0", "l1", "l2"};
        ASSERT_TRUE(Playback.StartRecording(index));
        Playback.RecordLine("X");
        EXPECT_EQ(lines.last(), "X") << index;
        Playback.StopRecording();
    }

    ASSERT_TRUE(Playback.StartRecording(2));
    lines.clear();  // cut under the recorder: it appends rather than overrun
    Playback.RecordLine("Y");
    EXPECT_EQ(lines, QByteArrayList({"Y"}));
}

void SetApplicationState(Qt::ApplicationState state) {
    QWindowSystemInterface::handleApplicationStateChanged<QWindowSystemInterface::SynchronousDelivery>(state);
}

TEST_F(PlaybackTest, MessageBalloonHidesWhileAwayAndKeepsItsTime) {
    SetApplicationState(Qt::ApplicationActive);
    Start({"Message \"Look here\", 1, 7", "Message \"%NoSuchKey\"", "Message"}, QPoint(120, 130));
    Playback.Tick();
    auto* message = dynamic_cast<TQelDemoScriptBalloonAction*>(Playback.CurrentAction());
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->Text(), "Look here");
    EXPECT_EQ(message->Corner(), 0);  // 7 is no corner
    EXPECT_EQ(message->Anchor(), QPoint(120, 130));
    ASSERT_TRUE(message->Balloon()->isVisible());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
    TickAfter(400);

    SetApplicationState(Qt::ApplicationInactive);
    SetApplicationState(Qt::ApplicationHidden);  // still away: no second pause
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Paused);
    EXPECT_EQ(Playback.PauseCount(), 1);
    EXPECT_FALSE(message->Balloon()->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    TickAfter(30000);
    SetApplicationState(Qt::ApplicationActive);
    EXPECT_EQ(Playback.State(), TQelPlaybackState::Playing);
    EXPECT_TRUE(message->Balloon()->isVisible());
    TickAfter(590);
    EXPECT_EQ(Playback.CurrentAction(), message);
    TickAfter(10);
    EXPECT_EQ(Playback.CurrentAction(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A key no language section holds, and no text at all, show nothing.
    EXPECT_TRUE(Playback.Tick());
    EXPECT_EQ(Playback.LineIndex(), 2);
    EXPECT_TRUE(Playback.Tick());
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // After playback, switching away is none of its business.
    SetApplicationState(Qt::ApplicationInactive);
    EXPECT_EQ(Playback.PauseCount(), 0);
    SetApplicationState(Qt::ApplicationActive);

    Start({"Message Hi, 5, 4"});  // aborting under a balloon gives the pointer back
    Playback.Tick();
    Playback.QueryAbort();
    EXPECT_FALSE(Playback.Tick());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

class TKeyCounter : public QWidget {
public:
    int Keys = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++Keys; }
    void keyReleaseEvent(QKeyEvent*) override { ++Keys; }
};

void SendEscape(QWidget* w, QEvent::Type type, bool autoRepeat = false) {
    QKeyEvent event(type, Qt::Key_Escape, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(w, &event);
}

TEST_F(PlaybackTest, EscapeAsksToAbortAndNeverReachesTheProgram) {
    TKeyCounter widget;
    int asked = 0;
    Playback.OnAbortQuery = [&](TQelDemoPlayback*, bool&) { ++asked; };
    Start({"Pause 10"});
    Playback.Tick();
    SendEscape(&widget, QEvent::KeyPress);
    SendEscape(&widget, QEvent::KeyRelease, true);
    SendEscape(&widget, QEvent::KeyPress, true);  // held: the repeats are kept away too
    EXPECT_FALSE(Playback.Tick());                // the clean-up takes the hooks off
    SendEscape(&widget, QEvent::KeyRelease);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(widget.Keys, 0);

    SendEscape(&widget, QEvent::KeyPress);  // the program's again
    EXPECT_EQ(widget.Keys, 1);

    Start({"Pause 10"});  // while paused Escape is not taken
    Playback.Tick();
    Playback.Pause();
    SendEscape(&widget, QEvent::KeyPress);
    EXPECT_EQ(widget.Keys, 2);
    EXPECT_EQ(asked, 1);
}

}  // namespace
