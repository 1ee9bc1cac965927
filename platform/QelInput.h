// Qt input in the terms the tools are written in: the platform's mouse
// button numbers, shift-state bits, virtual-key numbers and whole wheel
// steps. Every view translates through these, once.
#pragma once

#include <Qt>

#include <cstdint>

class QKeyEvent;

// Mouse buttons.
enum TMouseButton : int32_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// Shift-state bits.
using TShiftState = uint16_t;
constexpr TShiftState ssShift = 0x01;
constexpr TShiftState ssAlt = 0x02;
constexpr TShiftState ssCtrl = 0x04;
constexpr TShiftState ssLeft = 0x08;
constexpr TShiftState ssRight = 0x10;
constexpr TShiftState ssMiddle = 0x20;
constexpr TShiftState ssDouble = 0x40;

// Platform virtual-key numbers the program refers to by name.
constexpr uint16_t VK_BACK = 8;
constexpr uint16_t VK_TAB = 9;
constexpr uint16_t VK_RETURN = 13;
constexpr uint16_t VK_SHIFT = 16;
constexpr uint16_t VK_CONTROL = 17;
constexpr uint16_t VK_MENU = 18;
constexpr uint16_t VK_ESCAPE = 27;
constexpr uint16_t VK_SPACE = 32;
constexpr uint16_t VK_PRIOR = 33;
constexpr uint16_t VK_NEXT = 34;
constexpr uint16_t VK_END = 35;
constexpr uint16_t VK_HOME = 36;
constexpr uint16_t VK_LEFT = 37;
constexpr uint16_t VK_UP = 38;
constexpr uint16_t VK_RIGHT = 39;
constexpr uint16_t VK_DOWN = 40;
constexpr uint16_t VK_INSERT = 45;
constexpr uint16_t VK_DELETE = 46;
constexpr uint16_t VK_F1 = 112;
constexpr uint16_t VK_OEM_PLUS = 187;
constexpr uint16_t VK_OEM_MINUS = 189;

// The button's number; false for buttons the program does not know (back,
// forward and the like), which are then not passed on.
bool QelMouseButton(Qt::MouseButton Button, TMouseButton& Result);

TShiftState QelShiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons);

// The virtual-key number of a Qt key (QKeyEvent::key()); keys on the keypad
// are told apart by Qt::KeypadModifier. 0 for keys without one.
uint16_t QelVirtualKey(int Key, Qt::KeyboardModifiers Modifiers);

// Whether the window system still holds down the key of this release, which
// is then a held key's repeat, whatever the event's repeat flag says: X11
// repeats a held key as a release and a press at once, and Qt flags the
// pair only when both are already in its queue. False where the window
// system cannot tell (every platform but X11, and events made by a program).
bool QelKeyStillDown(const QKeyEvent& Release);

// Wheel movement in whole steps: one step is one notch of a mouse wheel
// (120 units of Qt's angle delta). A touchpad's small movements add up until
// they make a notch; what is left over starts afresh when the direction
// turns. Each view keeps its own.
class TQelWheelSteps {
public:
    TQelWheelSteps() : Remainder(0) {}
    // The steps this movement completes: positive away from the user,
    // negative toward; 0 while a notch is still being made and for a
    // movement without vertical part.
    int32_t Add(int AngleDeltaY);

private:
    int32_t Remainder;  // always less than a notch either way
};
