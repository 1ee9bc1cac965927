#include "QelInput.h"

#include <QGuiApplication>
#include <QKeyEvent>

// The X11 headers define short macro names (None, Bool, KeyPress, ...) that
// clash with Qt's; they come last and are used only below.
#include <X11/Xlib.h>

bool QelMouseButton(Qt::MouseButton Button, TMouseButton& Result) {
    switch (Button) {
    case Qt::LeftButton: Result = mbLeft; return true;
    case Qt::RightButton: Result = mbRight; return true;
    case Qt::MiddleButton: Result = mbMiddle; return true;
    default: return false;
    }
}

TShiftState QelShiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
    TShiftState s = 0;
    if (Modifiers & Qt::ShiftModifier) s |= ssShift;
    if (Modifiers & Qt::AltModifier) s |= ssAlt;
    if (Modifiers & Qt::ControlModifier) s |= ssCtrl;
    if (Buttons & Qt::LeftButton) s |= ssLeft;
    if (Buttons & Qt::RightButton) s |= ssRight;
    if (Buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

uint16_t QelVirtualKey(int Key, Qt::KeyboardModifiers Modifiers) {
    const bool keypad = (Modifiers & Qt::KeypadModifier) != 0;
    if (keypad) {
        if (Key >= Qt::Key_0 && Key <= Qt::Key_9) return uint16_t(96 + (Key - Qt::Key_0));
        switch (Key) {
        case Qt::Key_Asterisk: return 106;
        case Qt::Key_Plus: return 107;
        case Qt::Key_Minus: return 109;
        case Qt::Key_Period: case Qt::Key_Comma: return 110;
        case Qt::Key_Slash: return 111;
        default: break;  // navigation keys of the keypad map like the others
        }
    }
    if (Key >= Qt::Key_A && Key <= Qt::Key_Z) return uint16_t(Key);
    if (Key >= Qt::Key_0 && Key <= Qt::Key_9) return uint16_t(Key);
    if (Key >= Qt::Key_F1 && Key <= Qt::Key_F24) return uint16_t(VK_F1 + (Key - Qt::Key_F1));
    switch (Key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Print: return 44;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return 47;
    case Qt::Key_Meta: case Qt::Key_Super_L: return 91;
    case Qt::Key_Super_R: return 92;
    case Qt::Key_Menu: return 93;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    // The punctuation keys of a US keyboard, shifted or not.
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 186;
    case Qt::Key_Equal: case Qt::Key_Plus: return VK_OEM_PLUS;
    case Qt::Key_Comma: case Qt::Key_Less: return 188;
    case Qt::Key_Minus: case Qt::Key_Underscore: return VK_OEM_MINUS;
    case Qt::Key_Period: case Qt::Key_Greater: return 190;
    case Qt::Key_Slash: case Qt::Key_Question: return 191;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 192;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 219;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 220;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 221;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 222;
    default: return 0;
    }
}

int32_t TQelWheelSteps::Add(int AngleDeltaY) {
    constexpr int64_t Notch = 120;
    if (AngleDeltaY == 0) return 0;
    if ((AngleDeltaY > 0) != (Remainder > 0)) Remainder = 0;
    const int64_t sum = int64_t(Remainder) + AngleDeltaY;
    // C++ division truncates toward zero, so the remainder keeps the sign.
    Remainder = int32_t(sum % Notch);
    return int32_t(sum / Notch);
}

bool QelKeyStillDown(const QKeyEvent& Release) {
    // The X key code; 0 for an event that no key of the server made.
    const quint32 code = Release.nativeScanCode();
    if (code == 0 || code > 255 || QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return false;
    // The server makes a repeat's release and press together, so by the
    // time this asks, a held key is down again; a released one stays up.
    char keys[32] = {};
    XQueryKeymap(display, keys);
    return (static_cast<unsigned char>(keys[code / 8]) >> (code % 8) & 1) != 0;
}
