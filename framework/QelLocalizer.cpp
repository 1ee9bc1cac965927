#include "QelLocalizer.h"

TQelLocalizer* TQelLocalizer::FInstance = nullptr;

TQelLocalizer::TQelLocalizer() {
    if (!FInstance) FInstance = this;
}

TQelLocalizer::~TQelLocalizer() {
    if (FInstance == this) FInstance = nullptr;
}

TQelLocalizer* TQelLocalizer::Instance() { return FInstance; }

QString TQelLocalizer::GetLocalString(int32_t, const QString& defaultText) const { return defaultText; }

void TQelLocalizer::AddLocalizeHandler(const TQelMethod& method) {
    method();
    FSubscribers.Add(method);
}

void TQelLocalizer::RemoveLocalizeHandler(const TQelMethod& method) { FSubscribers.Remove(method); }
