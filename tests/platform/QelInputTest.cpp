#include <gtest/gtest.h>

#include "QelInput.h"

namespace {

TEST(QelInput, KeysMapToVirtualKeyNumbers) {
    const Qt::KeyboardModifiers none;
    EXPECT_EQ(QelVirtualKey(Qt::Key_Space, none), 32);
    EXPECT_EQ(QelVirtualKey(Qt::Key_O, none), 79);
    EXPECT_EQ(QelVirtualKey(Qt::Key_O, Qt::ShiftModifier), 79);
    EXPECT_EQ(QelVirtualKey(Qt::Key_7, none), 55);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Plus, none), 187);  // the equals/plus key, shifted or not
    EXPECT_EQ(QelVirtualKey(Qt::Key_Equal, none), 187);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Minus, none), 189);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Underscore, Qt::ShiftModifier), 189);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Left, none), 37);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Down, none), 40);
    EXPECT_EQ(QelVirtualKey(Qt::Key_PageUp, none), 33);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Return, none), 13);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Enter, Qt::KeypadModifier), 13);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Escape, none), 27);
    EXPECT_EQ(QelVirtualKey(Qt::Key_F12, none), 123);
    // The keypad has keys of its own.
    EXPECT_EQ(QelVirtualKey(Qt::Key_Plus, Qt::KeypadModifier), 107);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Minus, Qt::KeypadModifier), 109);
    EXPECT_EQ(QelVirtualKey(Qt::Key_3, Qt::KeypadModifier), 99);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Left, Qt::KeypadModifier), 37);
    EXPECT_EQ(QelVirtualKey(Qt::Key_unknown, none), 0);
    EXPECT_EQ(QelVirtualKey(Qt::Key_Eacute, none), 0);
}

TEST(QelInput, ButtonsShiftStateAndWheel) {
    TMouseButton b = mbMiddle;
    EXPECT_TRUE(QelMouseButton(Qt::LeftButton, b));
    EXPECT_EQ(b, mbLeft);
    EXPECT_TRUE(QelMouseButton(Qt::RightButton, b));
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(QelMouseButton(Qt::MiddleButton, b));
    EXPECT_EQ(b, 2);
    EXPECT_FALSE(QelMouseButton(Qt::BackButton, b));

    EXPECT_EQ(QelShiftState(Qt::ShiftModifier | Qt::ControlModifier, Qt::LeftButton | Qt::MiddleButton),
              ssShift | ssCtrl | ssLeft | ssMiddle);
    EXPECT_EQ(QelShiftState(Qt::AltModifier | Qt::KeypadModifier, Qt::RightButton | Qt::BackButton), ssAlt | ssRight);

    EXPECT_EQ(QelWheelStep(120), 1);
    EXPECT_EQ(QelWheelStep(15), 1);  // a fine touchpad step is still one step
    EXPECT_EQ(QelWheelStep(-120), -1);
    EXPECT_EQ(QelWheelStep(0), 0);   // horizontal-only: not a step down
}

}  // namespace
