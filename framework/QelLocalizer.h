// The localizer: every visible text is a numeric id resolved from the
// language files. (Interface first; the language-file machinery follows.)
#pragma once

#include <QString>

#include "QelClasses.h"

class TQelLocalizer {
public:
    TQelLocalizer();
    ~TQelLocalizer();

    // The one instance; created in main() before the application object.
    static TQelLocalizer* Instance();

    // The text of an id: current language, then base language, else Default.
    QString GetLocalString(int32_t id, const QString& defaultText) const;

    // Calls Method once at once, then appends it to the subscribers.
    void AddLocalizeHandler(const TQelMethod& method);
    // Removes the last subscriber equal in object and function.
    void RemoveLocalizeHandler(const TQelMethod& method);

private:
    TQelMethodList FSubscribers;
    static TQelLocalizer* FInstance;
};

// Shorthand used by every Localize.
inline QString QelText(int32_t id, const QString& defaultText = QString()) {
    TQelLocalizer* l = TQelLocalizer::Instance();
    return l ? l->GetLocalString(id, defaultText) : defaultText;
}
