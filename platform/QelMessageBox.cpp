#include "QelMessageBox.h"

#include <vector>

namespace {

TQelMessageBoxHook& Hook() {
    static TQelMessageBoxHook hook;
    return hook;
}

// The buttons of each type in their on-screen order.
std::vector<QMessageBox::StandardButton> ButtonList(uint32_t flags) {
    switch (flags & MB_TYPEMASK) {
        case MB_OKCANCEL: return {QMessageBox::Ok, QMessageBox::Cancel};
        case MB_ABORTRETRYIGNORE: return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
        case MB_YESNOCANCEL: return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case MB_YESNO: return {QMessageBox::Yes, QMessageBox::No};
        case MB_RETRYCANCEL: return {QMessageBox::Retry, QMessageBox::Cancel};
        default: return {QMessageBox::Ok};
    }
}

}  // namespace

TQelMessageBoxHook QelSetMessageBoxHook(TQelMessageBoxHook hook) {
    TQelMessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

QMessageBox::StandardButtons QelMessageBoxButtons(uint32_t flags) {
    QMessageBox::StandardButtons result;
    for (QMessageBox::StandardButton b : ButtonList(flags)) result |= b;
    return result;
}

QMessageBox::Icon QelMessageBoxIcon(uint32_t flags) {
    switch (flags & MB_ICONMASK) {
        case MB_ICONHAND: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONEXCLAMATION: return QMessageBox::Warning;
        case MB_ICONASTERISK: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButton QelMessageBoxDefaultButton(uint32_t flags) {
    const std::vector<QMessageBox::StandardButton> buttons = ButtonList(flags);
    const size_t index = (flags & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

int QelMessageBoxResult(QMessageBox::StandardButton pressed, uint32_t flags) {
    switch (pressed) {
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Cancel: return IDCANCEL;
        case QMessageBox::Abort: return IDABORT;
        case QMessageBox::Retry: return IDRETRY;
        case QMessageBox::Ignore: return IDIGNORE;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        default: break;
    }
    switch (flags & MB_TYPEMASK) {
        case MB_OK: return IDOK;
        case MB_YESNO: return IDNO;
        case MB_ABORTRETRYIGNORE: return IDABORT;
        default: return IDCANCEL;
    }
}

int QelMessageBox(QWidget* parent, const QString& text, const QString& caption, uint32_t flags) {
    if (Hook()) return Hook()(text, caption, flags);

    QMessageBox box(QelMessageBoxIcon(flags), caption, text, QMessageBox::NoButton, parent);
    for (QMessageBox::StandardButton b : ButtonList(flags)) box.addButton(b);
    box.setDefaultButton(QelMessageBoxDefaultButton(flags));
    box.exec();
    return QelMessageBoxResult(box.standardButton(box.clickedButton()), flags);
}
