// The platform message box: MB_ flags in, button ids out, drawn by
// QMessageBox. Tests install an answer hook so that no test ever waits in a
// modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

// Buttons (low nibble).
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_RETRYCANCEL = 0x5;
constexpr uint32_t MB_TYPEMASK = 0xF;
// Icons.
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONERROR = MB_ICONHAND;
constexpr uint32_t MB_ICONSTOP = MB_ICONHAND;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr uint32_t MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr uint32_t MB_ICONMASK = 0xF0;
// Default button.
constexpr uint32_t MB_DEFBUTTON1 = 0x000;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_DEFMASK = 0xF00;

// Pressed-button ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Answers a message box instead of showing it; gets the text, caption and
// flags and returns a button id.
using TQelMessageBoxHook = std::function<int(const QString& text, const QString& caption, uint32_t flags)>;

// Installs Hook (an empty one restores the real box); returns the previous one.
TQelMessageBoxHook QelSetMessageBoxHook(TQelMessageBoxHook hook);

// Shows the box over Parent (may be null) and returns the pressed button's id.
int QelMessageBox(QWidget* parent, const QString& text, const QString& caption, uint32_t flags);

// The mapping, exposed so it can be checked without showing anything.
QMessageBox::StandardButtons QelMessageBoxButtons(uint32_t flags);
QMessageBox::Icon QelMessageBoxIcon(uint32_t flags);
QMessageBox::StandardButton QelMessageBoxDefaultButton(uint32_t flags);
// The id for a pressed button; a box closed without a button gives the id
// of its cancelling button (IDCANCEL, or IDOK for a lone OK, IDNO for Yes/No).
int QelMessageBoxResult(QMessageBox::StandardButton pressed, uint32_t flags);
