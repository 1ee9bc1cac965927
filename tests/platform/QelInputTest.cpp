#include <gtest/gtest.h>

#include "QelInput.h"

TEST(QelInput, KeysButtonsShiftStateAndWheel) {
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

    EXPECT_EQ(QelWheelStep(15), 1);  // a fine touchpad step is still one step
    EXPECT_EQ(QelWheelStep(-120), -1);
    EXPECT_EQ(QelWheelStep(0), 0);   // horizontal only: not a step down
}
