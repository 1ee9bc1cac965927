#include "QelCursors.h"

#include <QGuiApplication>

int16_t ColorSelectorCursor = 0;

TQelCursorRegistry::TQelCursorRegistry() : FCursors() {
    const std::pair<int16_t, Qt::CursorShape> builtIn[] = {
        {crDefault, Qt::ArrowCursor},    {crNone, Qt::BlankCursor},        {crArrow, Qt::ArrowCursor},
        {crCross, Qt::CrossCursor},      {crIBeam, Qt::IBeamCursor},       {crSizeNESW, Qt::SizeBDiagCursor},
        {crSizeNS, Qt::SizeVerCursor},   {crSizeNWSE, Qt::SizeFDiagCursor}, {crSizeWE, Qt::SizeHorCursor},
        {crUpArrow, Qt::UpArrowCursor},  {crHourGlass, Qt::WaitCursor},    {crDrag, Qt::DragCopyCursor},
        {crNoDrop, Qt::ForbiddenCursor}, {crHSplit, Qt::SplitHCursor},     {crVSplit, Qt::SplitVCursor},
        {crMultiDrag, Qt::DragCopyCursor}, {crSQLWait, Qt::BusyCursor},    {crNo, Qt::ForbiddenCursor},
        {crAppStart, Qt::BusyCursor},    {crHelp, Qt::WhatsThisCursor},    {crHandPoint, Qt::PointingHandCursor},
        {crSizeAll, Qt::SizeAllCursor},  {crQelHand, Qt::OpenHandCursor},
    };
    for (const auto& [id, shape] : builtIn) FCursors.emplace(id, QCursor(shape));
}

TQelCursorRegistry& TQelCursorRegistry::Instance() {
    static TQelCursorRegistry registry;
    return registry;
}

QCursor TQelCursorRegistry::Cursor(int16_t id) const {
    auto it = FCursors.find(id);
    return it != FCursors.end() ? it->second : QCursor(Qt::ArrowCursor);
}

void TQelCursorRegistry::SetCursor(int16_t id, const QCursor& cursor) { FCursors[id] = cursor; }

void TQelCursorRegistry::RemoveCursor(int16_t id) {
    // The default slot always has a cursor.
    if (id != crDefault) FCursors.erase(id);
}

bool TQelCursorRegistry::IsFree(int16_t id) const { return FCursors.find(id) == FCursors.end(); }

int16_t TQelCursorRegistry::FindFreeSlot(int16_t first) const {
    for (int32_t id = first; id < 32767; ++id)
        if (IsFree(int16_t(id))) return int16_t(id);
    return 32767;
}

namespace {
int16_t gScreenCursor = crDefault;
}

void QelSetScreenCursor(int16_t id) {
    if (id == crDefault) {
        // Qt keeps a stack of overrides; unwind all of it.
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    } else if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(TQelCursorRegistry::Instance().Cursor(id));
    } else {
        QGuiApplication::setOverrideCursor(TQelCursorRegistry::Instance().Cursor(id));
    }
    gScreenCursor = id;
}

int16_t QelScreenCursor() { return gScreenCursor; }
