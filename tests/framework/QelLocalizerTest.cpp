#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>
#include <set>
#include <vector>

#include <sys/stat.h>

#include "QelLocalizer.h"

namespace {

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
    QString WriteLanguage(const QString& name, int langId, const QByteArray& title, const QByteArray& strings) {
        return Write(name, "[Language]\nLangId=" + QByteArray::number(langId) + "\nLanguage=" + title +
                               "\n[Strings]\n" + strings);
    }

private:
    QTemporaryDir FDir;
};

QStringList Names(const TQelLocalizer& l) {
    TQelLanguageList list;
    l.GetLanguageList(list);
    QStringList names;
    for (const auto& [name, language] : list) names << name;
    return names;
}

struct Subscriber {
    std::vector<int>* Log = nullptr;
    int Tag = 0;
    void Localize() { Log->push_back(Tag); }
};

// Unsubscribes another subscriber and itself while being told.
struct Remover {
    TQelLocalizer* Localizer = nullptr;
    Subscriber* Victim = nullptr;
    std::vector<int>* Log = nullptr;
    void Localize() {
        Log->push_back(0);
        Localizer->RemoveLocalizeHandler(TQelMethod(Victim, &Subscriber::Localize));
        Localizer->RemoveLocalizeHandler(TQelMethod(this, &Remover::Localize));
    }
};

// The default locale is process-wide; switching languages moves it.
class QelLocalizerTest : public ::testing::Test {
protected:
    void TearDown() override { QLocale::setDefault(FSavedLocale); }
    QLocale FSavedLocale;
};

const QString Fixtures = QStringLiteral(VISARA_SOURCE_DIR "/tests/framework/fixtures/Languages");
const QString ShippedLanguages = QStringLiteral(VISARA_SOURCE_DIR "/data/Languages");

}  // namespace

TEST_F(QelLocalizerTest, WithoutLanguagesEveryLookupGivesTheDefault) {
    LanguageFolder folder;
    folder.WriteLanguage("Zero.ini", 0, "Zero", "10=zero\n");
    folder.Write("Missing.ini", "[Language]\nLanguage=None\n[Strings]\n10=none\n");
    folder.WriteLanguage("Huge.ini", 70000, "Huge", "10=huge\n");
    folder.Write("Word.ini", "[Language]\nLangId=abc\n[Strings]\n10=word\n");
    for (const QString& path : {QStringLiteral("/nonexistent/Languages/"), folder.Path()}) {
        TQelLocalizer l(path, 1033);
        EXPECT_EQ(l.GetBaseLangId(), 0);
        EXPECT_EQ(l.GetCurrentLangId(), 0);
        EXPECT_EQ(l.GetLocalString(10, "d"), "d");
        EXPECT_TRUE(Names(l).isEmpty());
    }
}

TEST_F(QelLocalizerTest, EncodingsFollowSignatureThenCodePageThenBytes) {
    LanguageFolder folder;
    // The signature wins over a CodePage line: UTF-8 is not converted again.
    folder.Write("A.ini", "\xEF\xBB\xBF[Language]\nLangId=1049\nLanguage=Русский\nCodePage=1251\n"
                          "[Strings]\n10=Файл\n");
    // 8-bit with a code page; the key counts in any section and in any case.
    folder.Write("B.ini", "[Language]\r\nLangId=1058\r\nLanguage=\xD3\xEA\xF0\xE0\xBF\xED\xF1\xFC\xEA\xE0\r\n"
                          "[Strings]\r\ncodepage = 1251\r\n10=\xD4\xE0\xE9\xEB\r\n");
    // Neither: bytes as they are (UTF-8 without a signature).
    folder.Write("C.ini", "[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Größe\n");
    // Only the first CodePage line counts, and an unusable one means none.
    folder.Write("D.ini", "[Language]\nCodePage=x\nCodePage=1251\nLangId=1036\nLanguage=Français\n"
                          "[Strings]\n10=Fenêtre\n");
    // A code page the converter does not know: bytes as they are.
    folder.Write("E.ini", "[Language]\nCodePage=1\nLangId=1040\nLanguage=Italiano\n[Strings]\n10=Città\n");
    // Combining marks come out precomposed.
    folder.Write("F.ini", "[Language]\nCodePage=1258\nLangId=1066\nLanguage=Vi\xEA\xF2t\n[Strings]\n10=a\xEC\n");
    folder.Write("G.ini", "[Language]\nCodePage=65001\nLangId=1038\nLanguage=Magyar\n[Strings]\n"
                          "10=E\xCC\x81s o\xCC\x88\n");

    TQelLocalizer l(folder.Path(), 1049);
    EXPECT_EQ(Names(l), QStringList({"Русский", "Українська", "Deutsch", "Français", "Italiano", "Việt", "Magyar"}));
    EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
    const std::pair<uint16_t, QString> expected[] = {{1058, "Файл"},  {1031, "Größe"}, {1036, "Fenêtre"},
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
                         "4294967306=too big\n1e3=no\n");
    TQelLocalizer l(folder.Path(), 1033);
    EXPECT_EQ(l.GetLocalString(10, "d"), "second");  // the later line wins; 2^32 + 10 is no alias
    EXPECT_EQ(l.GetLocalString(20, "d"), "x=y");     // everything after the first "="
    EXPECT_EQ(l.GetLocalString(22, "d"), "");        // present but empty is found
    EXPECT_EQ(l.GetLocalString(-5, "d"), "minus");
    EXPECT_EQ(l.GetLocalString(1, "d"), "d");
}

TEST_F(QelLocalizerTest, ChoiceOfTheBaseLanguage) {
    LanguageFolder folder;
    folder.WriteLanguage("b_Russian.ini", 1049, "Русский", "10=Файл\n");
    folder.WriteLanguage("A_French.ini", 1036, "Français", "10=Fichier\n");
    {
        // No file for the system language and none for 1033: the first by name.
        TQelLocalizer l(folder.Path(), 1031);
        EXPECT_EQ(l.GetBaseLangId(), 1036);
        EXPECT_EQ(l.GetCurrentLangId(), 1036);
        EXPECT_EQ(l.GetLocalString(10, ""), "Fichier");
    }
    folder.WriteLanguage("c_English.ini", 1033, "English", "10=File\n");
    EXPECT_EQ(TQelLocalizer(folder.Path(), 1031).GetLocalString(10, ""), "File");
    EXPECT_EQ(TQelLocalizer(folder.Path(), 1049).GetLocalString(10, ""), "Файл");
    {
        // A built-in language is the base, listed after the files when none has it.
        TQelLocalizer l(folder.Path(), 1049,
                        QByteArray("[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Datei\n"));
        EXPECT_EQ(l.GetBaseLangId(), 1031);
        EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
        EXPECT_EQ(Names(l), QStringList({"Français", "Русский", "English", "Deutsch"}));
        l.SetLanguage(1049);
        l.SetLanguage(1031);
        EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
    }
    {
        // One a file has too: listed once, and its own texts are the base.
        TQelLocalizer l(folder.Path(), 1049, QByteArray("[Language]\nLangId=1033\n[Strings]\n10=Built in\n"));
        EXPECT_EQ(Names(l).size(), 3);
        EXPECT_EQ(l.GetLocalString(10, ""), "Built in");
    }
    EXPECT_EQ(TQelLocalizer(folder.Path(), 1049, QByteArray("[Strings]\n10=x\n")).GetBaseLangId(), 0);
}

TEST_F(QelLocalizerTest, SwitchingLanguagesAndFallingBack) {
    LanguageFolder folder;
    folder.WriteLanguage("1_English.ini", 1033, "English", "10=File\n11=Base only\n");
    const QString russian = folder.WriteLanguage("2_Russian.ini", 1049, "Русский", "10=Файл\n");
    folder.WriteLanguage("3_Russian.ini", 1049, "Русский 2", "10=Второй\n");
    TQelLocalizer l(folder.Path(), 1033);
    EXPECT_EQ(Names(l).size(), 3);  // both files with 1049 are listed
    QString name = "unchanged";
    l.GetLanguageName(9999, name);
    EXPECT_EQ(name, "unchanged");
    l.GetLanguageName(1049, name);
    EXPECT_EQ(name, "Русский");

    l.SetLanguage(1049);  // the first file with the id
    EXPECT_EQ(l.GetCurrentLangId(), 1049);
    EXPECT_EQ(l.GetLocalString(10, ""), "Файл");
    EXPECT_EQ(l.GetLocalString(11, ""), "Base only");
    EXPECT_EQ(l.GetLocalString(12, "d"), "d");
    EXPECT_EQ(QLocale().name(), "ru_RU");

    folder.WriteLanguage("2_Russian.ini", 1049, "Русский", "10=Файл 2\n");
    l.SetLanguage(1049);  // read again
    EXPECT_EQ(l.GetLocalString(10, ""), "Файл 2");
    l.SetLanguage(1033);
    EXPECT_EQ(l.GetLocalString(10, ""), "File");

    // A file gone since the scan: everything falls back to the base.
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
    TQelLocalizer l(folder.Path(), 1033);
    std::vector<int> log;
    Subscriber a{&log, 1}, b{&log, 2}, c{&log, 3};
    Remover remover{&l, &b, &log};
    l.AddLocalizeHandler(TQelMethod(&a, &Subscriber::Localize));  // each called at once
    l.AddLocalizeHandler(TQelMethod(&c, &Subscriber::Localize));
    EXPECT_EQ(log, (std::vector<int>{1, 3}));

    log.clear();
    l.SetLanguage(9999);
    EXPECT_TRUE(log.empty());
    l.SetLanguage(1033);  // already current: still told, in order
    EXPECT_EQ(log, (std::vector<int>{1, 3}));

    l.RemoveLocalizeHandler(TQelMethod(&c, &Subscriber::Localize));
    l.AddLocalizeHandler(TQelMethod(&remover, &Remover::Localize));  // nothing to remove yet
    l.AddLocalizeHandler(TQelMethod(&b, &Subscriber::Localize));
    l.AddLocalizeHandler(TQelMethod(&c, &Subscriber::Localize));
    log.clear();
    // b leaves before its turn (it may be gone by then) and is not called.
    l.SetLanguage(1033);
    EXPECT_EQ(log, (std::vector<int>{1, 0, 3}));
    log.clear();
    l.SetLanguage(1033);
    EXPECT_EQ(log, (std::vector<int>{1, 3}));
}

TEST_F(QelLocalizerTest, DamagedAndOddFilesNeitherCrashNorBlock) {
    {
        // A code-page file, a plain one, one without an id and a damaged one.
        TQelLocalizer l(Fixtures, 1031);
        EXPECT_EQ(Names(l), QStringList({"Plain English", "Русский"}));
        EXPECT_EQ(l.GetBaseLangId(), 1033);
        EXPECT_EQ(l.GetLocalString(30, ""), "Café");
        l.SetLanguage(1049);
        EXPECT_EQ(l.GetLocalString(12, ""), "Открыть");
    }

    LanguageFolder folder;
    folder.WriteLanguage("English.ini", 1033, "English", "10=File\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.Path() + "/Fifo.ini").constData(), 0600), 0);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("Folder.ini"));
    ASSERT_TRUE(QFile::link(folder.Path() + "/nowhere", folder.Path() + "/Dangling.ini"));
    {
        QFile big(folder.Path() + "/Big.ini");  // sparse, so cheap to make
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write("[Language]\nLangId=1049\n");
        ASSERT_TRUE(big.resize(TQelLanguageFile::MaxFileSize + 1));
    }
    static const char header[] = "[Language]\nLangId=1036\nLanguage=\xFF\xFE\x00\x01\n[Strings]\n";
    QByteArray noise(header, sizeof(header) - 1);
    for (int i = 0; i < 5000; ++i) noise += char((i * 7919) & 0xFF);
    folder.Write("Noise.ini", noise + "\n[Strings]\n12=\xC3\n");
    folder.WriteLanguage(".Hidden.ini", 1040, "Italiano", "10=Archivio\n");  // hidden files count

    TQelLocalizer l(folder.Path(), 1033);
    TQelLanguageList list;
    l.GetLanguageList(list);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].second->LangId, 1040);
    EXPECT_EQ(list[1].second->LangId, 1033);
    EXPECT_EQ(list[2].second->LangId, 1036);
    l.SetLanguage(1036);
    EXPECT_EQ(l.GetLocalString(12, ""), QString(QChar::ReplacementCharacter));
}

TEST(QelLocalizerInstance, TheProgramsLocalizer) {
    if (TQelLocalizer::Instance()) GTEST_SKIP() << "a program-wide localizer exists";
    QTemporaryDir programDir;
    ASSERT_TRUE(QDir(programDir.path()).mkdir("Languages"));
    QFile file(programDir.path() + "/Languages/Only.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Language]\nLangId=1046\nLanguage=Português\n[Strings]\n10=Arquivo\n");
    file.close();

    const QByteArray saved = qgetenv("VISARA_PROGRAM_DIR");
    qputenv("VISARA_PROGRAM_DIR", QFile::encodeName(programDir.path()));
    {
        TQelLocalizer first;  // the program folder's languages
        TQelLocalizer second("/nonexistent", 1033);
        EXPECT_EQ(TQelLocalizer::Instance(), &first);
        EXPECT_EQ(first.GetBaseLangId(), 1046);
        EXPECT_EQ(QelText(10), "Arquivo");
        EXPECT_EQ(QelText(11, "d"), "d");
    }
    EXPECT_EQ(TQelLocalizer::Instance(), nullptr);
    EXPECT_EQ(QelText(10, "d"), "d");
    if (saved.isNull()) qunsetenv("VISARA_PROGRAM_DIR");
    else qputenv("VISARA_PROGRAM_DIR", saved);
}

TEST(QelLocalStringList, SetTextSortAndAssign) {
    TQelLocalStringList list;
    list.SetText(30, "c");
    list.SetText(10, "a");
    list.SetText(30, "c2");  // replaces
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Find(30)->Text, "c2");
    list.Sort();
    list.SetText(20, "b");
    EXPECT_FALSE(list.Sorted());  // appended out of order: searched linearly
    EXPECT_EQ(list.Find(20)->Text, "b");

    list.Assign({{5, "x"}, {3, "y"}, {5, "z"}, {3, "w"}, {4, "v"}});
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Find(5)->Text, "z");
    EXPECT_EQ(list.Find(3)->Text, "w");
    EXPECT_EQ(list.Find(6), nullptr);
}

TEST(QelLocaleTable, LanguageIdsLocalesAndCodePages) {
    EXPECT_EQ(QelLangIdOfLocale(QLocale("de_AT")), 0x0C07);
    EXPECT_EQ(QelLangIdOfLocale(QLocale("de_LI")), 1031);  // by language
    EXPECT_EQ(QelLangIdOfLocale(QLocale::c()), 1033);
    EXPECT_EQ(QelLocaleNameOfLangId(0x1407), "de_DE");  // an unlisted country of German
    EXPECT_EQ(QelLocaleNameOfLangId(0x007F), QString());
    EXPECT_EQ(QelAnsiCodePageOfLangId(1049), 1251);
    EXPECT_EQ(QelAnsiCodePageOfLangId(0x0411), 932);
    EXPECT_EQ(QelAnsiCodePageOfLangId(0x0439), 0);  // Unicode-only language
}

TEST(QelLanguageFiles, ShippedFilesAreCompleteAndConsistent) {
    // Every text id the program asks for.
    const std::set<int32_t> used = {
        1,    2,    10,   12,   13,   15,   16,   17,   21,   23,   24,   25,   26,   34,   37,   41,   46,
        47,   53,   54,   56,   74,   75,   94,   98,   99,   101,  102,  108,  128,  130,  131,  133,  135,
        146,  147,  154,  156,  161,  162,  163,  164,  165,  166,  167,  168,  169,  172,  173,  174,  175,
        176,  178,  205,  206,  207,  208,  209,  210,  211,  212,  213,  214,  215,  216,  504,  505,  506,
        518,  519,  536,  540,  541,  542,  550,  558,  562,  725,  802,  910,  1030, 1031, 1040, 1041, 1042,
        1043, 1044, 1045, 1046, 1047, 1048, 1049, 1050, 1060, 1061, 1062, 1063, 1129, 1130, 1131,
        1132, 1133, 1134, 1135, 1136, 1137, 1138, 1139, 1140, 1141, 1200, 1201, 1202, 1203, 1204, 1205, 1206,
        1207, 1208, 1209, 2000, 2002, 2003, 2005,
        2006, 2007, 2008, 2009, 2018, 2019, 2020, 2021, 2022, 2024, 2025, 2026, 2027, 2028, 2029, 2100, 2104,
        2105, 2109, 2110, 2450, 2451, 2453, 2457, 2610, 2611, 2612, 2613, 2614, 2615};

    for (const char* name : {"English.ini", "German.ini"}) {
        TQelLanguageFile file;
        ASSERT_TRUE(file.LoadFromFile(ShippedLanguages + "/" + name)) << name;
        TQelLocalStringList texts;
        file.LoadStrings(texts);
        std::set<int32_t> ids;
        for (int i = 0; i < texts.Count(); ++i) {
            const TQelLocalString& s = texts.Item(i);
            ids.insert(s.Id);
            EXPECT_FALSE(s.Text.isEmpty()) << name << " " << s.Id;
            // Texts formatted with a name keep exactly one placeholder.
            EXPECT_EQ(s.Text.count("%s"), (s.Id == 94 || s.Id == 164 || s.Id == 1030 || s.Id == 1031 || s.Id == 1047 || s.Id == 1050 || s.Id == 1061 || s.Id == 1062 || s.Id == 1130 || s.Id == 1202 ||
                                         s.Id == 1203 || s.Id == 1204 || s.Id == 1207)
                                            ? 1
                                            : 0)
                << name << s.Id;
        }
        if (QByteArray(name) == "English.ini") {
            EXPECT_EQ(file.LangId(), 1033);
            EXPECT_EQ(ids, used);
        } else {
            EXPECT_EQ(file.LangId(), 1031);
            EXPECT_TRUE(std::includes(used.begin(), used.end(), ids.begin(), ids.end()));
        }
    }
    TQelLocalizer l(ShippedLanguages, 1031);
    EXPECT_EQ(Names(l), QStringList({"English", "Deutsch"}));
    EXPECT_EQ(l.GetLocalString(10, ""), "Datei");
}

TEST(QelFormatText, FillsEveryPlaceholderAndKeepsLiteralPercents) {
    EXPECT_EQ(QelFormatText(QStringLiteral("Save changes to %s?"), QStringLiteral("a.jpg")),
              QStringLiteral("Save changes to a.jpg?"));
    EXPECT_EQ(QelFormatText(QStringLiteral("%s: 100%% of %s"), QStringLiteral("x")), QStringLiteral("x: 100% of x"));
    // A lone percent sign at the end, or before another letter, stays as it is.
    EXPECT_EQ(QelFormatText(QStringLiteral("50% %d %"), QStringLiteral("x")), QStringLiteral("50% %d %"));
}
