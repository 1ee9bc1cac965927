// The localizer: every visible text is a numeric id resolved from the
// language files in the program's "Languages" folder.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "QelClasses.h"
#include "QelIniFile.h"

class QLocale;

// One available language. FileName is empty for the built-in language.
struct TQelLanguage {
    QString Name;
    uint16_t LangId = 0;
    QString FileName;
};

// One text, kept as UTF-8 and decoded when asked for.
struct TQelLocalString {
    int32_t Id = 0;
    QByteArray Text;
};

class TQelLocalStringList {
public:
    // A new id appends a record and clears Sorted; an existing id gets the new text.
    void SetText(int32_t id, const QByteArray& text);
    // Binary search while sorted, else linear; nullptr when the id is absent.
    const TQelLocalString* Find(int32_t id) const;
    // Orders by id and sets Sorted.
    void Sort();
    void Clear();
    // Replaces the contents with Records given in file order (a later record
    // of an id wins) and sorts them, in n log n even for huge inputs.
    void Assign(std::vector<TQelLocalString> records);

    bool Sorted() const { return FSorted; }
    int Count() const { return int(FItems.size()); }
    const TQelLocalString& Item(int index) const { return FItems[size_t(index)]; }

private:
    std::vector<TQelLocalString> FItems;
    bool FSorted = true;
};

// A language file's contents after the encoding step: UTF-8 with a
// signature, else the code page of the first "CodePage" line, else the
// bytes as they are.
class TQelLanguageFile : public TQelIniFile {
public:
    // Files larger than this are not language files; reading stops there.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    // The file's bytes turned into the text the INI reader sees.
    static QByteArray Decode(const QByteArray& bytes);

    void LoadFromBytes(const QByteArray& bytes);
    // False (and no contents) when the path is not a readable regular file
    // of at most MaxFileSize bytes.
    bool LoadFromFile(const QString& fileName);

    // [Language] LangId; 0 when missing or not a number from 1 to 65535.
    uint16_t LangId() const;
    // [Language] Language, decoded from UTF-8.
    QString LanguageName() const;
    // Every [Strings] line whose name is a decimal number, later lines winning.
    void LoadStrings(TQelLocalStringList& list) const;
};

using TQelLanguageList = QList<std::pair<QString, const TQelLanguage*>>;

class TQelLocalizer {
public:
    // The program's own: the program folder's "Languages", the system's
    // language and the built-in language resource when the program has one.
    TQelLocalizer();
    // An explicit folder and system language (tests, tools).
    TQelLocalizer(const QString& folder, uint16_t systemLangId,
                  const std::optional<QByteArray>& builtInLanguage = std::nullopt);
    ~TQelLocalizer();
    TQelLocalizer(const TQelLocalizer&) = delete;
    TQelLocalizer& operator=(const TQelLocalizer&) = delete;

    // The one instance: the first localizer created, until it is destroyed.
    static TQelLocalizer* Instance();
    // Program folder + "Languages/".
    static QString DefaultFolder();

    // Current language, then base language, else Default.
    QString GetLocalString(int32_t id, const QString& defaultText) const;

    // Sets the locale for LangId, then switches to the first language with
    // that id and notifies every subscriber; an unknown id changes nothing else.
    void SetLanguage(uint16_t langId);
    uint16_t GetCurrentLangId() const { return FCurrentLangId; }
    uint16_t GetBaseLangId() const { return FBaseLangId; }

    // Every language's name with its language, in scan order.
    void GetLanguageList(TQelLanguageList& list) const;
    // Name is left as it is when no language has the id.
    void GetLanguageName(uint16_t langId, QString& name) const;

    // Calls Method once at once, then appends it to the subscribers.
    void AddLocalizeHandler(const TQelMethod& method);
    // Removes the last subscriber equal in object and function.
    void RemoveLocalizeHandler(const TQelMethod& method);

private:
    void Create(const QString& folder, uint16_t systemLangId, const std::optional<QByteArray>& builtInLanguage);
    const TQelLanguage* FindLanguage(uint16_t langId) const;
    bool IsSubscribed(const TQelMethod& method) const;

    std::vector<std::unique_ptr<TQelLanguage>> FLanguages;
    TQelLocalStringList FBaseStrings;
    TQelLocalStringList FCurrentStrings;
    TQelMethodList FSubscribers;
    uint16_t FBaseLangId = 0;
    uint16_t FCurrentLangId = 0;
    static TQelLocalizer* FInstance;
};

// Shorthand used by every Localize.
inline QString QelText(int32_t id, const QString& defaultText = QString()) {
    TQelLocalizer* l = TQelLocalizer::Instance();
    return l ? l->GetLocalString(id, defaultText) : defaultText;
}

// 8-bit text in a code page to composed (NFC) wide text; false when the code
// page is unknown.
bool QelAnsiToWide(const QByteArray& text, uint16_t codePage, QString& wide);

// The platform language ids we know, with their locales and ANSI code pages.
// The language id of a locale (0 when the table has none; the C locale
// counts as US English).
uint16_t QelLangIdOfLocale(const QLocale& locale);
// "de_DE" style name of a language id; empty when unknown.
QString QelLocaleNameOfLangId(uint16_t langId);
// The ANSI code page of a language id; 0 for unknown ids and for languages
// that have none.
uint16_t QelAnsiCodePageOfLangId(uint16_t langId);

// Fills the "%s" places of a language text with Arg ("%%" is a percent sign).
// Every text with placeholders goes through this one formatter.
QString QelFormatText(const QString& Text, const QString& Arg);
