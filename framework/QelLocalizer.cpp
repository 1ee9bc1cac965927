#include "QelLocalizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <string_view>

#include "QelHelpers.h"
#include "QelPaths.h"
#include "QelRegularFile.h"

namespace {

// ---- Language ids ---------------------------------------------------------

struct TLangIdEntry {
    uint16_t LangId;
    const char* Locale;
    uint16_t AnsiCodePage;
};

// The first entry of a language is its main country: a locale we only know
// by its language maps there.
constexpr TLangIdEntry LangIdTable[] = {
    {0x0409, "en_US", 1252}, {0x0809, "en_GB", 1252}, {0x0C09, "en_AU", 1252}, {0x1009, "en_CA", 1252},
    {0x1409, "en_NZ", 1252}, {0x1809, "en_IE", 1252}, {0x1C09, "en_ZA", 1252}, {0x0407, "de_DE", 1252},
    {0x0807, "de_CH", 1252}, {0x0C07, "de_AT", 1252}, {0x040C, "fr_FR", 1252}, {0x080C, "fr_BE", 1252},
    {0x0C0C, "fr_CA", 1252}, {0x100C, "fr_CH", 1252}, {0x0C0A, "es_ES", 1252}, {0x040A, "es_ES", 1252},
    {0x080A, "es_MX", 1252}, {0x2C0A, "es_AR", 1252}, {0x0410, "it_IT", 1252}, {0x0810, "it_CH", 1252},
    {0x0416, "pt_BR", 1252}, {0x0816, "pt_PT", 1252}, {0x0413, "nl_NL", 1252}, {0x0813, "nl_BE", 1252},
    {0x0406, "da_DK", 1252}, {0x041D, "sv_SE", 1252}, {0x0414, "nb_NO", 1252}, {0x0814, "nn_NO", 1252},
    {0x040B, "fi_FI", 1252}, {0x040F, "is_IS", 1252}, {0x0403, "ca_ES", 1252}, {0x042D, "eu_ES", 1252},
    {0x0456, "gl_ES", 1252}, {0x0436, "af_ZA", 1252}, {0x0421, "id_ID", 1252}, {0x043E, "ms_MY", 1252},
    {0x0441, "sw_KE", 1252}, {0x0419, "ru_RU", 1251}, {0x0422, "uk_UA", 1251}, {0x0423, "be_BY", 1251},
    {0x0402, "bg_BG", 1251}, {0x042F, "mk_MK", 1251}, {0x043F, "kk_KZ", 1251}, {0x0415, "pl_PL", 1250},
    {0x0405, "cs_CZ", 1250}, {0x041B, "sk_SK", 1250}, {0x040E, "hu_HU", 1250}, {0x0424, "sl_SI", 1250},
    {0x041A, "hr_HR", 1250}, {0x0418, "ro_RO", 1250}, {0x041C, "sq_AL", 1250}, {0x0408, "el_GR", 1253},
    {0x041F, "tr_TR", 1254}, {0x040D, "he_IL", 1255}, {0x0401, "ar_SA", 1256}, {0x0429, "fa_IR", 1256},
    {0x0420, "ur_PK", 1256}, {0x0425, "et_EE", 1257}, {0x0426, "lv_LV", 1257}, {0x0427, "lt_LT", 1257},
    {0x042A, "vi_VN", 1258}, {0x041E, "th_TH", 874},  {0x0411, "ja_JP", 932},  {0x0804, "zh_CN", 936},
    {0x0412, "ko_KR", 949},  {0x0404, "zh_TW", 950},  {0x0C04, "zh_HK", 950},  {0x0439, "hi_IN", 0},
};

// The entry of a language id; an unlisted country of a listed language falls
// back to that language's main entry.
const TLangIdEntry* FindLangId(uint16_t langId) {
    for (const TLangIdEntry& e : LangIdTable)
        if (e.LangId == langId) return &e;
    const uint16_t primary = langId & 0x3FF;
    for (const TLangIdEntry& e : LangIdTable)
        if ((e.LangId & 0x3FF) == primary) return &e;
    return nullptr;
}

// Linux has no thread locale; the default QLocale is what our number and
// date displays follow.
void SetThreadLocale(uint16_t langId) {
    if (const TLangIdEntry* e = FindLangId(langId)) QLocale::setDefault(QLocale(QString::fromLatin1(e->Locale)));
}

// ---- Language files -------------------------------------------------------

std::string_view View(const QByteArray& bytes) { return std::string_view(bytes.constData(), size_t(bytes.size())); }

// The code page named by the first "CodePage" line of the raw file, in any
// section; 0 when there is none or its value is not a non-zero integer.
uint16_t FindCodePage(const QByteArray& bytes) {
    for (std::string_view line : TQelIniFile::SplitLines(View(bytes))) {
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (!TQelIniFile::SameText(TQelIniFile::Trim(line.substr(0, eq)), "CodePage")) continue;
        int64_t value = 0;
        if (!TQelIniFile::ParseDecimal(line.substr(eq + 1), value)) return 0;
        return uint16_t(uint64_t(value));
    }
    return 0;
}

}  // namespace

// ---- TQelLocalStringList ---------------------------------------------------

void TQelLocalStringList::SetText(int32_t id, const QByteArray& text) {
    if (const TQelLocalString* found = Find(id)) {
        FItems[size_t(found - FItems.data())].Text = text;
        return;
    }
    FItems.push_back(TQelLocalString{id, text});
    FSorted = false;
}

const TQelLocalString* TQelLocalStringList::Find(int32_t id) const {
    if (FSorted) {
        auto it = std::lower_bound(FItems.begin(), FItems.end(), id,
                                   [](const TQelLocalString& s, int32_t v) { return s.Id < v; });
        return (it != FItems.end() && it->Id == id) ? &*it : nullptr;
    }
    for (const TQelLocalString& s : FItems)
        if (s.Id == id) return &s;
    return nullptr;
}

void TQelLocalStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const TQelLocalString& a, const TQelLocalString& b) { return a.Id < b.Id; });
    FSorted = true;
}

void TQelLocalStringList::Clear() {
    FItems.clear();
    FSorted = true;
}

void TQelLocalStringList::Assign(std::vector<TQelLocalString> records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const TQelLocalString& a, const TQelLocalString& b) { return a.Id < b.Id; });
    // Equal ids keep file order after the stable sort: the last of a run wins.
    FItems.clear();
    for (size_t i = 0; i < records.size(); ++i) {
        if (i + 1 < records.size() && records[i + 1].Id == records[i].Id) continue;
        FItems.push_back(std::move(records[i]));
    }
    FSorted = true;
}

// ---- TQelLanguageFile ------------------------------------------------------

QByteArray TQelLanguageFile::Decode(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return bytes.mid(3);
    const uint16_t codePage = FindCodePage(bytes);
    if (codePage != 0) {
        QString wide;
        if (QelAnsiToWide(bytes, codePage, wide)) return wide.toUtf8();
    }
    return bytes;
}

void TQelLanguageFile::LoadFromBytes(const QByteArray& bytes) {
    const QByteArray text = Decode(bytes);
    SetText(View(text));
}

bool TQelLanguageFile::LoadFromFile(const QString& fileName) {
    Clear();
    const TQelFileContents file = QelReadRegularFile(fileName, MaxFileSize);
    if (!file.Ok()) return false;
    LoadFromBytes(file.Bytes);
    return true;
}

uint16_t TQelLanguageFile::LangId() const {
    int64_t value = 0;
    if (!ParseDecimal(ReadString("Language", "LangId", ""), value)) return 0;
    return (value > 0 && value <= 0xFFFF) ? uint16_t(value) : 0;
}

QString TQelLanguageFile::LanguageName() const {
    return QString::fromStdString(ReadString("Language", "Language", ""));
}

void TQelLanguageFile::LoadStrings(TQelLocalStringList& list) const {
    std::vector<TQelLocalString> records;
    for (const TQelIniEntry& e : ReadSection("Strings")) {
        int64_t id = 0;
        if (!ParseDecimal(e.Name, id) || id < INT32_MIN || id > INT32_MAX) continue;
        records.push_back(TQelLocalString{int32_t(id), QByteArray::fromStdString(e.Value)});
    }
    list.Assign(std::move(records));
}

// ---- TQelLocalizer ---------------------------------------------------------

TQelLocalizer* TQelLocalizer::FInstance = nullptr;

TQelLocalizer::TQelLocalizer() {
    std::optional<QByteArray> builtIn;
    QFile resource(QStringLiteral(":/Language.ini"));
    if (resource.open(QIODevice::ReadOnly)) builtIn = resource.read(TQelLanguageFile::MaxFileSize);
    Create(DefaultFolder(), QelLangIdOfLocale(QLocale::system()), builtIn);
}

TQelLocalizer::TQelLocalizer(const QString& folder, uint16_t systemLangId,
                             const std::optional<QByteArray>& builtInLanguage) {
    Create(folder, systemLangId, builtInLanguage);
}

TQelLocalizer::~TQelLocalizer() {
    if (FInstance == this) FInstance = nullptr;
}

TQelLocalizer* TQelLocalizer::Instance() { return FInstance; }

QString TQelLocalizer::DefaultFolder() { return QDir(QelProgramDir()).filePath(QStringLiteral("Languages/")); }

void TQelLocalizer::Create(const QString& folder, uint16_t systemLangId,
                           const std::optional<QByteArray>& builtInLanguage) {
    if (!FInstance) FInstance = this;

    // Sorted by name: directory order on Linux is arbitrary, and the first
    // file is the last fallback for the base language.
    QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Hidden | QDir::System,
                                            QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        const QString path = dir.absoluteFilePath(name);
        TQelLanguageFile file;
        if (!file.LoadFromFile(path)) continue;
        const uint16_t id = file.LangId();
        if (id == 0) continue;
        FLanguages.push_back(std::make_unique<TQelLanguage>(TQelLanguage{file.LanguageName(), id, path}));
    }

    FBaseLangId = systemLangId;
    const TQelLanguage* base = nullptr;
    if (builtInLanguage) {
        TQelLanguageFile file;
        file.LoadFromBytes(*builtInLanguage);
        FBaseLangId = file.LangId();
        if (FBaseLangId != 0 && !FindLanguage(FBaseLangId))
            FLanguages.push_back(std::make_unique<TQelLanguage>(TQelLanguage{file.LanguageName(), FBaseLangId, {}}));
        file.LoadStrings(FBaseStrings);
    } else {
        base = FindLanguage(systemLangId);
        if (!base) base = FindLanguage(1033);
        if (!base && !FLanguages.empty()) base = FLanguages.front().get();
        FBaseLangId = base ? base->LangId : 0;
        if (base) {
            TQelLanguageFile file;
            file.LoadFromFile(base->FileName);
            file.LoadStrings(FBaseStrings);
        }
    }
    FCurrentLangId = FBaseLangId;
}

const TQelLanguage* TQelLocalizer::FindLanguage(uint16_t langId) const {
    for (const auto& l : FLanguages)
        if (l->LangId == langId) return l.get();
    return nullptr;
}

QString TQelLocalizer::GetLocalString(int32_t id, const QString& defaultText) const {
    if (const TQelLocalString* s = FCurrentStrings.Find(id)) return QString::fromUtf8(s->Text);
    if (const TQelLocalString* s = FBaseStrings.Find(id)) return QString::fromUtf8(s->Text);
    return defaultText;
}

void TQelLocalizer::SetLanguage(uint16_t langId) {
    SetThreadLocale(langId);
    const TQelLanguage* language = FindLanguage(langId);
    if (!language) return;
    FCurrentLangId = language->LangId;
    if (FCurrentLangId == FBaseLangId) {
        FCurrentStrings.Clear();
    } else {
        // A file that has gone since the scan leaves the list empty, so every
        // text falls back to the base language.
        TQelLanguageFile file;
        file.LoadFromFile(language->FileName);
        file.LoadStrings(FCurrentStrings);
    }

    // A subscriber may subscribe or unsubscribe others (or itself) while
    // being told: walk a copy, and skip whoever left in the meantime, since
    // a removed subscriber may already be gone.
    TQelMethodList pass = FSubscribers;
    for (int i = 0; i < pass.Count(); ++i) {
        const TQelMethod method = pass.GetMethod(i);
        if (IsSubscribed(method)) method();
    }
}

bool TQelLocalizer::IsSubscribed(const TQelMethod& method) const {
    for (int i = 0; i < FSubscribers.Count(); ++i)
        if (FSubscribers.GetMethod(i) == method) return true;
    return false;
}

void TQelLocalizer::GetLanguageList(TQelLanguageList& list) const {
    list.clear();
    for (const auto& l : FLanguages) list.append({l->Name, l.get()});
}

void TQelLocalizer::GetLanguageName(uint16_t langId, QString& name) const {
    if (const TQelLanguage* l = FindLanguage(langId)) name = l->Name;
}

void TQelLocalizer::AddLocalizeHandler(const TQelMethod& method) {
    method();
    FSubscribers.Add(method);
}

void TQelLocalizer::RemoveLocalizeHandler(const TQelMethod& method) { FSubscribers.Remove(method); }

// ---- Free functions --------------------------------------------------------

bool QelAnsiToWide(const QByteArray& text, uint16_t codePage, QString& wide) {
    std::u16string converted;
    if (!AnsiToWideCodePage(View(text), codePage, converted)) return false;
    wide = QString::fromStdU16String(converted).normalized(QString::NormalizationForm_C);
    return true;
}

uint16_t QelLangIdOfLocale(const QLocale& locale) {
    if (locale.language() == QLocale::C) return 0x0409;
    const QString name = locale.name();
    for (const TLangIdEntry& e : LangIdTable)
        if (name == QLatin1String(e.Locale)) return e.LangId;
    const QString language = name.section(QLatin1Char('_'), 0, 0);
    for (const TLangIdEntry& e : LangIdTable)
        if (QString::fromLatin1(e.Locale).section(QLatin1Char('_'), 0, 0) == language) return e.LangId;
    return 0;
}

QString QelLocaleNameOfLangId(uint16_t langId) {
    const TLangIdEntry* e = FindLangId(langId);
    return e ? QString::fromLatin1(e->Locale) : QString();
}

uint16_t QelAnsiCodePageOfLangId(uint16_t langId) {
    const TLangIdEntry* e = FindLangId(langId);
    return e ? e->AnsiCodePage : 0;
}

QString QelFormatText(const QString& Text, const QString& Arg) {
    QString result;
    result.reserve(Text.size() + Arg.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (Text[i] == u'%' && i + 1 < Text.size()) {
            if (Text[i + 1] == u's') {
                result += Arg;
                ++i;
                continue;
            }
            if (Text[i + 1] == u'%') {
                result += u'%';
                ++i;
                continue;
            }
        }
        result += Text[i];
    }
    return result;
}
