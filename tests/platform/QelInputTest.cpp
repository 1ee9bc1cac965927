#include <gtest/gtest.h>

#include <climits>

#include "QelInput.h"

TEST(QelInput, KeysButtonsAndShiftState) {
    const Qt::KeyboardModifiers none;
    // The numbers the tools are written against.
    EXPECT_EQ(QelVirtualKey(Qt::Key_Space, none), 32);
    EXPECT_EQ(QelVirtualKey(Qt::Key_O, Qt::ShiftModifier), 79);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Plus, none), 187);  // the equals/plus key, shifted or not
    EXPECT_EQ(QelVirtualKey(Qt::Key_Equal, none), 187);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Underscore, Qt::ShiftModifier), 189);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Left, none), 37);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Down, none), 40);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Enter, Qt::KeypadModifier), 13);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Escape, none), 27);
    // The keypad's own keys; its arrows are arrows.
    EXPECT_EQ(QelVirtualKey(Qt::Key_Plus, Qt::KeypadModifier), 107);
    EXPECT_EQ(QelVirtualKey(Qt::Key_3, Qt::KeypadModifier), 99);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Left, Qt::KeypadModifier), 37);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Eacute, none), 0);

    TMouseButton b = mbLeft;
    EXPECT_TRUE(QelMouseButton(Qt::RightButton, b) && b == 1);
    EXPECT_TRUE(QelMouseButton(Qt::MiddleButton, b) && b == 2);
    EXPECT_FALSE(QelMouseButton(Qt::BackButton, b));
    EXPECT_EQ(QelShiftState(Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier,
                            Qt::LeftButton | Qt::MiddleButton | Qt::BackButton),
              ssShift | ssCtrl | ssLeft | ssMiddle);

}

TEST(QelInput, WheelStepsAreWholeNotchesWhateverTheEventsSize) {
    TQelWheelSteps wheel;
    EXPECT_EQ(wheel.Add(120), 1);  // a mouse notch is exactly one step
    EXPECT_EQ(wheel.Add(-120), -1);
    EXPECT_EQ(wheel.Add(0), 0);    // horizontal only: not a step down
    EXPECT_EQ(wheel.Add(360), 3);

    // A touchpad: small movements add up to one notch.
    int32_t steps = 0;
    for (int i = 0; i < 7; ++i) steps += wheel.Add(15);
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(wheel.Add(15), 1);
    EXPECT_EQ(wheel.Add(100), 0);
    EXPECT_EQ(wheel.Add(50), 1);   // 150: one notch, 30 left over

    // Turning round forgets the part of a notch made the other way.
    EXPECT_EQ(wheel.Add(-100), 0);
    EXPECT_EQ(wheel.Add(-20), -1);
    EXPECT_EQ(wheel.Add(-60), 0);
    EXPECT_EQ(wheel.Add(90), 0);
    EXPECT_EQ(wheel.Add(30), 1);

    // Extreme deltas neither overflow nor lose their sign.
    EXPECT_EQ(wheel.Add(INT_MIN), INT_MIN / 120);
    EXPECT_EQ(wheel.Add(INT_MAX), INT_MAX / 120);
}
