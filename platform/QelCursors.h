// The screen-cursor table: cursor ids (slots) that tools and views ask for,
// and the one program-wide override cursor (hourglass and the like).
#pragma once

#include <QCursor>

#include <cstdint>
#include <map>

// Built-in cursor ids.
constexpr int16_t crDefault = 0;
constexpr int16_t crNone = -1;
constexpr int16_t crArrow = -2;
constexpr int16_t crCross = -3;
constexpr int16_t crIBeam = -4;
constexpr int16_t crSizeNESW = -6;
constexpr int16_t crSizeNS = -7;
constexpr int16_t crSizeNWSE = -8;
constexpr int16_t crSizeWE = -9;
constexpr int16_t crUpArrow = -10;
constexpr int16_t crHourGlass = -11;
constexpr int16_t crDrag = -12;
constexpr int16_t crNoDrop = -13;
constexpr int16_t crHSplit = -14;
constexpr int16_t crVSplit = -15;
constexpr int16_t crMultiDrag = -16;
constexpr int16_t crSQLWait = -17;
constexpr int16_t crNo = -18;
constexpr int16_t crAppStart = -19;
constexpr int16_t crHelp = -20;
constexpr int16_t crHandPoint = -21;
constexpr int16_t crSizeAll = -22;

// The hand (panning) cursor's slot.
constexpr int16_t crQelHand = 100;

// The colour-selector cursor's slot, given out at start-up; 0 before.
extern int16_t ColorSelectorCursor;

class TQelCursorRegistry {
public:
    // A table with the built-in cursors and the hand cursor in slot 100.
    TQelCursorRegistry();

    // The program's table.
    static TQelCursorRegistry& Instance();

    // The cursor of an id; an id without a cursor shows the default arrow.
    QCursor Cursor(int16_t id) const;
    // Stores a cursor in a slot for the program's lifetime.
    void SetCursor(int16_t id, const QCursor& cursor);
    void RemoveCursor(int16_t id);
    // A slot is free when nothing was stored in it.
    bool IsFree(int16_t id) const;
    // The first free slot from First up to 32766; 32767 when none is free.
    int16_t FindFreeSlot(int16_t first = 100) const;

private:
    std::map<int16_t, QCursor> FCursors;
};

// The screen cursor: an override over every window of the program. Setting
// crDefault removes it. It holds one cursor, not a stack, so nested
// hourglass/default pairs end with the default cursor.
void QelSetScreenCursor(int16_t id);
int16_t QelScreenCursor();
