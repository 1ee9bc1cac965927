#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "QelLocalizer.h"

namespace {

const QByteArray Bom("\xEF\xBB\xBF");

// A temporary language folder the tests fill file by file.
class LanguageFolder {
public:
    QString Path() const { return FDir.path(); }
    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = FDir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }
    // A small UTF-8 language file.
    QString WriteLanguage(const QString& name, int langId, const QByteArray& title, const QByteArray& strings) {
        return Write(name, "[Language]\nLangId=" + QByteArray::number(langId) + "\nLanguage=" + title +
                               "\n[Strings]\n" + strings);
    }

private:
    QTemporaryDir FDir;
};

// Records the order of Localize calls.
struct Subscriber {
    std::vector<int>* Log = nullptr;
    int Tag = 0;
    void Localize() { Log->push_back(Tag); }
};

// The default locale is process-wide; tests that switch languages restore it.
class QelLocalizerTest : public ::testing::Test {
protected:
    void TearDown() override { QLocale::setDefault(FSavedLocale); }
    QLocale FSavedLocale;
};

QString Fixtures() { return QStringLiteral(VISARA_SOURCE_DIR "/tests/framework/fixtures/Languages"); }
QString ShippedLanguages() { return QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"); }

}  // namespace

TEST_F(QelLocalizerTest, WithoutLanguagesEveryLookupGivesTheDefault) {
    for (const QString& folder : {QStringLiteral("/nonexistent/visara/Languages/"), QString()}) {
        LanguageFolder empty;
        TQelLocalizer l(folder.isEmpty() ? empty.Path() : folder, 1033);
        EXPECT_EQ(l.GetBaseLangId(), 0);
        EXPECT_EQ(l.GetCurrentLangId(), 0);
        EXPECT_EQ(l.GetLocalString(10, "d"), "d");
        EXPECT_EQ(l.GetLocalString(10, QString()), QString());
        TQelLanguageList list{{QStringLiteral("stale"), nullptr}};
        l.GetLanguageList(list);
        EXPECT_TRUE(list.isEmpty());
    }

    // Files without a usable language id do not count as languages.
    LanguageFolder folder;
    folder.WriteLanguage("Zero.ini", 0, "Zero", "10=zero\n");
    folder.Write("Missing.ini", "[Language]\nLanguage=None\n[Strings]\n10=none\n");
    folder.WriteLanguage("Huge.ini", 70000, "Huge", "10=huge\n");
    folder.Write("Word.ini", "[Language]\nLangId=abc\n[Strings]\n10=word\n");
    TQelLocalizer l(folder.Path(), 1033);
    TQelLanguageList list;
    l.GetLanguageList(list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(l.GetLocalString(10, "d"), "d");
}

TEST_F(QelLocalizerTest, EncodingsFollowSignatureThenCodePageThenBytes) {
    LanguageFolder folder;
    // The signature wins over a CodePage line: UTF-8 is not converted again.
    folder.Write("A.ini", Bom + "[Language]\nLangId=1049\nLanguage=Русский\nCodePage=1251\n[Strings]\n10=Файл\n");
    // 8-bit with a code page; the key is found in any section, in any case.
    QByteArray cp1251 = "[Language]\r\nLangId=1058\r\nLanguage=\xD3\xEA\xF0\xE0\xBF\xED\xF1\xFC\xEA\xE0\r\n"
                        "[Strings]\r\ncodepage = 1251\r\n10=\xD4\xE0\xE9\xEB\r\n";
    folder.Write("B.ini", cp1251);
    // Neither: bytes as they are (here UTF-8 without a signature).
    folder.Write("C.ini", "[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Größe\n");
    // Only the first CodePage line counts; an unusable one means no conversion.
    folder.Write("D.ini", "[Language]\nCodePage=x\nCodePage=1251\nLangId=1036\nLanguage=Fran\xC3\xA7" "ais\n"
                          "[Strings]\n10=Fen\xC3\xAAtre\n");
    // A code page iconv does not know: lines as they are.
    folder.Write("E.ini", "[Language]\nCodePage=1\nLangId=1040\nLanguage=Italiano\n[Strings]\n10=Citt\xC3\xA0\n");
    // Combining marks come out precomposed.
    folder.Write("F.ini", "[Language]\nCodePage=1258\nLangId=1066\nLanguage=Vi\xEA\xF2t\n[Strings]\n10=a\xEC\n");
    folder.Write("G.ini", "[Language]\nCodePage=65001\nLangId=1038\nLanguage=Magyar\n[Strings]\n10=E\xCC\x81s o\xCC\x88\n");

    TQelLocalizer l(folder.Path(), 1049);
    TQelLanguageList list;
    l.GetLanguageList(list);
    ASSERT_EQ(list.size(), 7);
    EXPECT_EQ(list[0].first, "Русский");
    EXPECT_EQ(list[1].first, "Українська");
    EXPECT_EQ(list[2].first, "Deutsch");
    EXPECT_EQ(list[3].first, "Français");
    EXPECT_EQ(list[4].first, "Italiano");
    EXPECT_EQ(list[5].first, QString::fromUtf8("Việt"));
    EXPECT_EQ(list[1].second->LangId, 1058);
    EXPECT_EQ(list[1].second->FileName, QDir(folder.Path()).absoluteFilePath("B.ini"));

    EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
    const std::pair<uint16_t, QString> expected[] = {
        {1058, "Файл"},  {1031, "Größe"}, {1036, "Fenêtre"},
        {1040, "Città"}, {1066, "á"},     {1038, "És ö"}};
    for (const auto& [id, text] : expected) {
        l.SetLanguage(id);
        EXPECT_EQ(l.GetLocalString(10, ""), text) << id;
    }
}

TEST_F(QelLocalizerTest, StringsSectionRules) {
    LanguageFolder folder;
    folder.WriteLanguage("Base.ini", 1033, "English",
                         "10=first\nabc=ignored\n20=x=y\n10=second\n22=\n -5 = minus \n"
                         "4294967306=too big\n1e3=no\n  30  =  padded  \n40=base only\n");
    TQelLocalizer l(folder.Path(), 1033);
    EXPECT_EQ(l.GetLocalString(10, "d"), "second");  // the later line wins
    EXPECT_EQ(l.GetLocalString(20, "d"), "x=y");     // everything after the first "="
    EXPECT_EQ(l.GetLocalString(22, "d"), "");        // present but empty is found
    EXPECT_EQ(l.GetLocalString(-5, "d"), "minus");
    EXPECT_EQ(l.GetLocalString(30, "d"), "padded");
    EXPECT_EQ(l.GetLocalString(1000, "d"), "d");
    EXPECT_EQ(l.GetLocalString(99, ""), "");
}

TEST_F(QelLocalizerTest, ChoiceOfTheBaseLanguage) {
    LanguageFolder folder;
    folder.WriteLanguage("b_Russian.ini", 1049, "Русский", "10=Файл\n");
    folder.WriteLanguage("A_French.ini", 1036, "Français", "10=Fichier\n");
    {
        // No system language file, no 1033: the first file by name (case ignored).
        TQelLocalizer l(folder.Path(), 1031);
        EXPECT_EQ(l.GetBaseLangId(), 1036);
        EXPECT_EQ(l.GetCurrentLangId(), 1036);
        EXPECT_EQ(l.GetLocalString(10, ""), "Fichier");
    }
    folder.WriteLanguage("c_English.ini", 1033, "English", "10=File\n");
    {
        TQelLocalizer l(folder.Path(), 1031);
        EXPECT_EQ(l.GetBaseLangId(), 1033);
        EXPECT_EQ(l.GetLocalString(10, ""), "File");
    }
    {
        TQelLocalizer l(folder.Path(), 1049);
        EXPECT_EQ(l.GetBaseLangId(), 1049);
        EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
    }
    {
        // A built-in language is the base; it is listed once when a file lacks it.
        TQelLocalizer l(folder.Path(), 1049,
                        QByteArray("[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Datei\n"));
        EXPECT_EQ(l.GetBaseLangId(), 1031);
        EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
        TQelLanguageList list;
        l.GetLanguageList(list);
        ASSERT_EQ(list.size(), 4);
        EXPECT_EQ(list[3].first, "Deutsch");
        EXPECT_TRUE(list[3].second->FileName.isEmpty());
        // Back to the built-in base from another language.
        l.SetLanguage(1049);
        EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
        l.SetLanguage(1031);
        EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
    }
    {
        // A built-in language with an id a file also has: not listed twice,
        // and its own texts stay the base texts.
        TQelLocalizer l(folder.Path(), 1049, QByteArray("[Language]\nLangId=1033\n[Strings]\n10=Built in\n"));
        TQelLanguageList list;
        l.GetLanguageList(list);
        EXPECT_EQ(list.size(), 3);
        EXPECT_EQ(l.GetLocalString(10, ""), "Built in");
    }
    {
        TQelLocalizer l(folder.Path(), 1049, QByteArray("[Strings]\n10=x\n"));
        EXPECT_EQ(l.GetBaseLangId(), 0);
    }
}

TEST_F(QelLocalizerTest, SwitchingLanguagesAndFallBack) {
    LanguageFolder folder;
    folder.WriteLanguage("1_English.ini", 1033, "English", "10=File\n11=Base only\n");
    const QString russian = folder.WriteLanguage("2_Russian.ini", 1049, "Русский", "10=Файл\n");
    folder.WriteLanguage("3_Russian.ini", 1049, "Русский (2)", "10=Второй\n");
    TQelLocalizer l(folder.Path(), 1033);

    TQelLanguageList list;
    l.GetLanguageList(list);
    ASSERT_EQ(list.size(), 3);  // both files with 1049 are listed
    QString name = "unchanged";
    l.GetLanguageName(9999, name);
    EXPECT_EQ(name, "unchanged");
    l.GetLanguageName(1049, name);
    EXPECT_EQ(name, "Русский");

    l.SetLanguage(1049);  // the first file with the id
    EXPECT_EQ(l.GetCurrentLangId(), 1049);
    EXPECT_EQ(l.GetBaseLangId(), 1033);
    EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
    EXPECT_EQ(l.GetLocalString(11, ""), "Base only");  // from the base language
    EXPECT_EQ(l.GetLocalString(12, "d"), "d");
    EXPECT_EQ(QLocale().name(), "ru_RU");

    // Switching reads the file again.
    folder.WriteLanguage("2_Russian.ini", 1049, "Русский", "10=Файл 2\n");
    l.SetLanguage(1049);
    EXPECT_EQ(l.GetLocalString(10, ""), "Файл 2");

    l.SetLanguage(1033);
    EXPECT_EQ(l.GetLocalString(10, ""), "File");

    // A file gone since the scan: every text falls back to the base.
    ASSERT_TRUE(QFile::remove(russian));
    l.SetLanguage(1049);
    EXPECT_EQ(l.GetCurrentLangId(), 1049);
    EXPECT_EQ(l.GetLocalString(10, ""), "File");

    // An unknown id only moves the locale.
    l.SetLanguage(1031);
    EXPECT_EQ(l.GetCurrentLangId(), 1049);
    EXPECT_EQ(QLocale().name(), "de_DE");
}

TEST_F(QelLocalizerTest, Subscribers) {
    LanguageFolder folder;
    folder.WriteLanguage("English.ini", 1033, "English", "10=File\n");
    folder.WriteLanguage("Russian.ini", 1049, "Русский", "10=Файл\n");
    TQelLocalizer l(folder.Path(), 1033);

    std::vector<int> log;
    Subscriber a{&log, 1}, b{&log, 2}, c{&log, 3};
    l.AddLocalizeHandler(TQelMethod(&a, &Subscriber::Localize));  // called at once
    l.AddLocalizeHandler(TQelMethod(&b, &Subscriber::Localize));
    l.AddLocalizeHandler(TQelMethod(&c, &Subscriber::Localize));
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));

    log.clear();
    l.SetLanguage(9999);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(l.GetCurrentLangId(), 1033);

    l.SetLanguage(1033);  // already current: still told, in order
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));

    log.clear();
    l.RemoveLocalizeHandler(TQelMethod(&b, &Subscriber::Localize));
    l.RemoveLocalizeHandler(TQelMethod(&b, &Subscriber::Localize));  // absent: harmless
    l.SetLanguage(1049);
    EXPECT_EQ(log, (std::vector<int>{1, 3}));
}

namespace {
// Unsubscribes another subscriber (and then itself) while being told.
struct Remover {
    TQelLocalizer* Localizer = nullptr;
    Subscriber* Victim = nullptr;
    std::vector<int>* Log = nullptr;
    void Localize() {
        Log->push_back(0);
        if (Victim) Localizer->RemoveLocalizeHandler(TQelMethod(Victim, &Subscriber::Localize));
        Localizer->RemoveLocalizeHandler(TQelMethod(this, &Remover::Localize));
    }
};
}  // namespace

TEST_F(QelLocalizerTest, SubscribersLeavingDuringANotification) {
    LanguageFolder folder;
    folder.WriteLanguage("English.ini", 1033, "English", "10=File\n");
    TQelLocalizer l(folder.Path(), 1033);
    std::vector<int> log;
    Subscriber first{&log, 1}, victim{&log, 2}, last{&log, 3};
    Remover remover{&l, &victim, &log};
    l.AddLocalizeHandler(TQelMethod(&first, &Subscriber::Localize));
    l.AddLocalizeHandler(TQelMethod(&remover, &Remover::Localize));  // nothing to remove yet
    l.AddLocalizeHandler(TQelMethod(&victim, &Subscriber::Localize));
    l.AddLocalizeHandler(TQelMethod(&last, &Subscriber::Localize));
    log.clear();
    // The victim leaves before its turn and is not called; the rest are.
    l.SetLanguage(1033);
    EXPECT_EQ(log, (std::vector<int>{1, 0, 3}));
    log.clear();
    l.SetLanguage(1033);
    EXPECT_EQ(log, (std::vector<int>{1, 3}));
}

TEST_F(QelLocalizerTest, DamagedAndOddFilesNeitherCrashNorBlock) {
    // The shipped fixture: a code-page file, a plain file, one without an id
    // and a damaged one.
    {
        TQelLocalizer l(Fixtures(), 1031);
        TQelLanguageList list;
        l.GetLanguageList(list);
        ASSERT_EQ(list.size(), 2);
        EXPECT_EQ(list[0].first, "Plain English");
        EXPECT_EQ(list[1].first, "Русский");
        EXPECT_EQ(l.GetBaseLangId(), 1033);
        EXPECT_EQ(l.GetLocalString(30, ""), "Café");
        l.SetLanguage(1049);
        EXPECT_EQ(l.GetLocalString(12, ""), "Открыть");
        EXPECT_EQ(l.GetLocalString(30, ""), "Café");
    }

    LanguageFolder folder;
    folder.WriteLanguage("English.ini", 1033, "English", "10=File\n");
    // Things named like language files that are none.
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.Path() + "/Fifo.ini").constData(), 0600), 0);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("Folder.ini"));
    ASSERT_TRUE(QFile::link(folder.Path() + "/nowhere", folder.Path() + "/Dangling.ini"));
    // Too large to be a language file (sparse, so cheap to make).
    {
        QFile big(folder.Path() + "/Big.ini");
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write("[Language]\nLangId=1049\n");
        ASSERT_TRUE(big.resize(TQelLanguageFile::MaxFileSize + 1));
    }
    // Garbage with a valid header.
    static const char header[] = "[Language]\nLangId=1036\nLanguage=\xFF\xFE\x00\x01\n[Strings]\n";
    QByteArray noise(header, sizeof(header) - 1);
    for (int i = 0; i < 5000; ++i) noise += char((i * 7919) & 0xFF);
    noise += "\n[Strings]\n12=\xC3\n";
    folder.Write("Noise.ini", noise);
    // A hidden file counts like any other.
    folder.WriteLanguage(".Hidden.ini", 1040, "Italiano", "10=Archivio\n");

    TQelLocalizer l(folder.Path(), 1033);
    TQelLanguageList list;
    l.GetLanguageList(list);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].second->LangId, 1040);
    EXPECT_EQ(list[1].second->LangId, 1033);
    EXPECT_EQ(list[2].second->LangId, 1036);
    l.SetLanguage(1036);
    EXPECT_EQ(l.GetLocalString(12, ""), QString(QChar::ReplacementCharacter));
    EXPECT_EQ(l.GetLocalString(10, ""), "File");
}

TEST(QelLocalizerInstance, TheFirstLocalizerServesQelText) {
    if (TQelLocalizer::Instance()) GTEST_SKIP() << "a program-wide localizer exists";
    LanguageFolder folder;
    folder.WriteLanguage("English.ini", 1033, "English", "10=File\n");
    {
        TQelLocalizer first(folder.Path(), 1033);
        TQelLocalizer second("/nonexistent", 1033);
        EXPECT_EQ(TQelLocalizer::Instance(), &first);
        EXPECT_EQ(QelText(10), "File");
        EXPECT_EQ(QelText(11, "d"), "d");
    }
    EXPECT_EQ(TQelLocalizer::Instance(), nullptr);
    EXPECT_EQ(QelText(10, "d"), "d");
}

TEST(QelLocalizerInstance, TheProgramsLocalizerReadsTheProgramFolder) {
    QTemporaryDir programDir;
    ASSERT_TRUE(QDir(programDir.path()).mkdir("Languages"));
    QFile file(programDir.path() + "/Languages/Only.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Language]\nLangId=1046\nLanguage=Portugu\xC3\xAAs\n[Strings]\n10=Arquivo\n");
    file.close();

    const QByteArray saved = qgetenv("VISARA_PROGRAM_DIR");
    qputenv("VISARA_PROGRAM_DIR", QFile::encodeName(programDir.path()));
    {
        TQelLocalizer l;
        EXPECT_EQ(QDir(TQelLocalizer::DefaultFolder()), QDir(programDir.path() + "/Languages"));
        EXPECT_EQ(l.GetBaseLangId(), 1046);
        EXPECT_EQ(l.GetLocalString(10, ""), "Arquivo");
    }
    if (saved.isNull()) qunsetenv("VISARA_PROGRAM_DIR");
    else qputenv("VISARA_PROGRAM_DIR", saved);
}

TEST(QelLocalStringList, SortedAndUnsortedLookups) {
    TQelLocalStringList list;
    EXPECT_TRUE(list.Sorted());
    list.SetText(30, "c");
    list.SetText(10, "a");
    EXPECT_FALSE(list.Sorted());
    list.SetText(30, "c2");  // replaces, no second record
    EXPECT_EQ(list.Count(), 2);
    ASSERT_NE(list.Find(30), nullptr);
    EXPECT_EQ(list.Find(30)->Text, "c2");
    list.Sort();
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.Item(0).Id, 10);
    list.SetText(20, "b");
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.Find(20)->Text, "b");
    list.Sort();
    for (int id : {10, 20, 30}) EXPECT_NE(list.Find(id), nullptr) << id;
    EXPECT_EQ(list.Find(15), nullptr);
    EXPECT_EQ(list.Find(40), nullptr);

    list.Assign({{5, "x"}, {3, "y"}, {5, "z"}, {3, "w"}, {4, "v"}});
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Find(5)->Text, "z");
    EXPECT_EQ(list.Find(3)->Text, "w");
}

TEST(QelLocaleTable, LanguageIdsLocalesAndCodePages) {
    EXPECT_EQ(QelLangIdOfLocale(QLocale("de_DE")), 1031);
    EXPECT_EQ(QelLangIdOfLocale(QLocale("de_AT")), 0x0C07);
    EXPECT_EQ(QelLangIdOfLocale(QLocale("de_LI")), 1031);  // by language
    EXPECT_EQ(QelLangIdOfLocale(QLocale::c()), 1033);
    EXPECT_EQ(QelLangIdOfLocale(QLocale("ru_RU")), 1049);
    EXPECT_EQ(QelLocaleNameOfLangId(1049), "ru_RU");
    EXPECT_EQ(QelLocaleNameOfLangId(0x1407), "de_DE");  // an unlisted country of German
    EXPECT_EQ(QelLocaleNameOfLangId(0x007F), QString());
    EXPECT_EQ(QelAnsiCodePageOfLangId(1049), 1251);
    EXPECT_EQ(QelAnsiCodePageOfLangId(1033), 1252);
    EXPECT_EQ(QelAnsiCodePageOfLangId(0x0411), 932);
    EXPECT_EQ(QelAnsiCodePageOfLangId(0x0439), 0);  // no ANSI code page
    EXPECT_EQ(QelAnsiCodePageOfLangId(0x007F), 0);
}

TEST(QelLanguageFiles, ShippedFilesAreCompleteAndConsistent) {
    // Every text id the program asks for.
    const std::set<int32_t> used = {
        1,    2,    10,   12,   13,   15,   16,   17,   21,   23,   24,   25,   26,   34,   37,   41,   46,
        47,   53,   54,   56,   74,   75,   94,   98,   99,   101,  102,  108,  128,  130,  131,  133,  135,
        146,  147,  154,  156,  161,  162,  163,  164,  165,  166,  167,  168,  169,  172,  173,  174,  175,
        176,  178,  205,  206,  207,  208,  209,  210,  211,  212,  213,  214,  215,  216,  504,  505,  506,
        518,  519,  536,  540,  541,  542,  550,  558,  562,  725,  802,  910,  1030, 2000, 2002, 2003, 2005,
        2006, 2007, 2008, 2009, 2018, 2019, 2020, 2021, 2022, 2024, 2025, 2026, 2027, 2028, 2029, 2100, 2104,
        2105, 2109, 2110, 2450, 2451, 2453, 2457, 2610, 2611, 2612, 2613, 2614, 2615};

    TQelLanguageFile english;
    ASSERT_TRUE(english.LoadFromFile(ShippedLanguages() + "/English.ini"));
    EXPECT_EQ(english.LangId(), 1033);
    TQelLocalStringList texts;
    english.LoadStrings(texts);
    for (int32_t id : used) {
        const TQelLocalString* s = texts.Find(id);
        ASSERT_NE(s, nullptr) << id;
        EXPECT_FALSE(s->Text.isEmpty()) << id;
    }
    EXPECT_EQ(texts.Count(), int(used.size())) << "an English text nobody asks for";

    // Formatted texts keep exactly one placeholder.
    for (int32_t id : {94, 164, 1030}) EXPECT_EQ(texts.Find(id)->Text.count("%s"), 1) << id;

    TQelLanguageFile german;
    ASSERT_TRUE(german.LoadFromFile(ShippedLanguages() + "/German.ini"));
    EXPECT_EQ(german.LangId(), 1031);
    TQelLocalStringList germanTexts;
    german.LoadStrings(germanTexts);
    EXPECT_GT(germanTexts.Count(), 40);
    for (int i = 0; i < germanTexts.Count(); ++i) {
        const TQelLocalString& s = germanTexts.Item(i);
        EXPECT_TRUE(used.count(s.Id)) << s.Id;
        if (used.count(s.Id) && texts.Find(s.Id)->Text.contains("%s")) {
            EXPECT_EQ(s.Text.count("%s"), 1) << s.Id;
        }
    }

    // Both are listed; with a German system German is the base.
    TQelLocalizer l(ShippedLanguages(), 1031);
    TQelLanguageList list;
    l.GetLanguageList(list);
    ASSERT_GE(list.size(), 2);
    EXPECT_EQ(l.GetBaseLangId(), 1031);
    EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
}
