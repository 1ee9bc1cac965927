#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <sys/stat.h>

#include "QelDemoScript.h"
#include "QelError.h"
#include "QelLocalizer.h"
#include "SmallFileSystem.h"

namespace {

// The parsed arguments as one readable string: i:5 d:1.5 s:"x".
std::string Describe(const TQelDemoScriptParams& p) {
    std::string out;
    for (int i = 0; i < p.Count(); ++i) {
        if (!out.empty()) out += ' ';
        const TQelVariant v = p.GetValue(i);
        if (const int32_t* n = std::get_if<int32_t>(&v)) out += "i:" + std::to_string(*n);
        else if (std::holds_alternative<double>(v)) out += "d:" + p.AsText(i);
        else if (const std::string* s = std::get_if<std::string>(&v)) out += "s:\"" + *s + "\"";
        else out += "?";
    }
    return out;
}

std::string Parse(std::string_view text) {
    TQelDemoScriptParams p;
    p.ParseText(text);
    return Describe(p);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArrayList Names(const TQelDemoScript& s) {
    QByteArrayList names;
    for (int i = 0; i < s.SectionCount(); ++i) names.append(s.SectionName(i));
    return names;
}

}  // namespace

TEST(DemoScriptParams, ItemForms) {
    EXPECT_EQ(Parse("100, 200"), "i:100 i:200");
    EXPECT_EQ(Parse("1.5"), "d:1.5");
    EXPECT_EQ(Parse("1,5"), "i:1 i:5");
    EXPECT_EQ(Parse("\"two\\nlines\", 2"), "s:\"two\nlines\" i:2");
    EXPECT_EQ(Parse("'single \"q\"' ,\t-7"), "s:\"single \"q\"\" i:-7");
    EXPECT_EQ(Parse("\"a\\\\nb\""), "s:\"a\\\nb\"");  // only backslash+n is special
    EXPECT_EQ(Parse("\"open, 2"), "s:\"open, 2\"");    // unterminated runs to the end
    EXPECT_EQ(Parse("true, false"), "i:-1 i:0");
    EXPECT_EQ(Parse("falsehood, 3"), "i:0");           // only "false" is consumed
    EXPECT_EQ(Parse("False, True"), "s:\"False\" s:\"True\"");
    EXPECT_EQ(Parse("(Image, 10, 20)"), "s:\"(Image\" i:10 i:20");
    EXPECT_EQ(Parse("(100"), "s:\"(100\"");
    EXPECT_EQ(Parse("1e5, 2"), "i:1");                 // lower-case e is not part of a number
    EXPECT_EQ(Parse("1E5"), "d:100000");
    EXPECT_EQ(Parse("-2.5E-1"), "d:-0.25");
    EXPECT_EQ(Parse("+5, +0.5"), "i:5 d:0.5");
    EXPECT_EQ(Parse(".5"), "s:\".5\"");
    EXPECT_EQ(Parse("100 200"), "i:100");              // no comma: the list ends
    EXPECT_EQ(Parse("\r\n 7 \r\n , \n8"), "i:7 i:8");
    EXPECT_EQ(Parse("-2147483648, 2147483647"), "i:-2147483648 i:2147483647");
}

TEST(DemoScriptParams, EmptyItemsAndEnds) {
    EXPECT_EQ(Parse(""), "");
    EXPECT_EQ(Parse(" \t\r\n"), "");
    EXPECT_EQ(Parse("1,,2"), "i:1 s:\"\" i:2");
    EXPECT_EQ(Parse("1, "), "i:1");
    EXPECT_EQ(Parse(",1"), "s:\"\" i:1");
}

TEST(DemoScriptParams, BadNumbersFailAndLeaveNothing) {
    for (const char* text : {"1-2", "+", "-", "1E", "+-1", "--1", "1.2.3", "2147483648", "-2147483649", "1E999",
                             "1E-999", "5, 1-2"}) {
        TQelDemoScriptParams p;
        p.ParseText("9");
        EXPECT_THROW(p.ParseText(text), EQelError) << text;
        EXPECT_EQ(p.Count(), 0) << text;
    }
    // The message names the run, shortened when it is huge.
    TQelDemoScriptParams p;
    try {
        p.ParseText(std::string(100000, '1') + "-");
        FAIL();
    } catch (const EQelError& e) {
        EXPECT_LT(std::string(e.what()).size(), 100u);
    }
}

TEST(DemoScriptParams, HostileLinesStayBounded) {
    const auto start = std::chrono::steady_clock::now();
    TQelDemoScriptParams p;
    std::string many;
    for (int i = 0; i < TQelDemoScriptParams::MaxArguments; ++i) many += "1,";
    p.ParseText(many);
    EXPECT_EQ(p.Count(), TQelDemoScriptParams::MaxArguments);
    TQelDemoScriptParams copy;
    copy.Assign(&p);
    EXPECT_EQ(copy.Count(), p.Count());
    EXPECT_THROW(p.ParseText(many + "1"), EQelError);
    p.ParseText(std::string(4'000'000, 'x'));
    EXPECT_EQ(p.Count(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(DemoScriptParams, AccessorsRoundHalvesToEvenAndIgnoreTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TQelDemoScriptParams p;
    p.ParseText("2.5, 3.5, word, 1E300, 0.5");
    EXPECT_TRUE(p.IsNumeric(0));
    EXPECT_FALSE(p.IsNumeric(2));
    EXPECT_FALSE(p.IsNumeric(9));
    EXPECT_EQ(p.AsInteger(0), 2);
    EXPECT_EQ(p.AsInteger(1), 4);
    EXPECT_EQ(p.AsInteger(2), 0);
    EXPECT_EQ(p.AsInteger(3), 2147483647);
    EXPECT_EQ(p.AsText(4), "0.5");
    QLocale::setDefault(saved);
}

TEST(DemoScriptLine, CommandWordAndArguments) {
    QByteArray command, args;
    ASSERT_TRUE(QelSplitScriptLine("MouseMove(Image, 10, 20)", command, args));
    EXPECT_EQ(command, "MOUSEMOVE");
    EXPECT_EQ(args, "(Image, 10, 20)");
    TQelDemoScriptParams p;
    p.ParseText(args);
    EXPECT_EQ(Describe(p), "s:\"(Image\" i:10 i:20");

    ASSERT_TRUE(QelSplitScriptLine(" \tmessage \t 'Hi', 2", command, args));
    EXPECT_EQ(command, "MESSAGE");
    EXPECT_EQ(args, "'Hi', 2");

    ASSERT_TRUE(QelSplitScriptLine("Pause", command, args));
    EXPECT_EQ(command, "PAUSE");
    EXPECT_TRUE(args.isEmpty());

    ASSERT_TRUE(QelSplitScriptLine("zoom\xE4n 1", command, args));
    EXPECT_EQ(command, "ZOOM\xE4N");  // only ASCII letters change case

    for (const char* comment : {"", "   ", "  // x", "#x", "*x", ";x", "(foo)", "\t(1, 2)"})
        EXPECT_FALSE(QelSplitScriptLine(comment, command, args)) << comment;
}

TEST(DemoScript, ReadingRules) {
    TQelDemoScript s;
    s.LoadFromBytes(
        "stray=before any section\r\n"
        "[ info ]\n"
        "  Title =  A tutorial \t\n"
        "; a comment\n"
        "\n"
        "[sCrIpT]\r"
        "Message \"a = b\"\r\n"
        "  MouseMove 10, 20  \n"
        "[Script]\n"
        "Pause 9\n"
        "[Other]\n"
        "x\x01=\x02y\n"
        "[\n");
    EXPECT_EQ(Names(s), QByteArrayList({"info", "sCrIpT", "Script", "Other"}));
    EXPECT_EQ(s.GetSection(0), QByteArrayList({"Title=A tutorial"}));
    ASSERT_NE(s.ScriptLines(), nullptr);
    EXPECT_EQ(*s.ScriptLines(), QByteArrayList({"Message \"a=b\"", "MouseMove 10, 20"}));
    EXPECT_EQ(s.GetSection(3), QByteArrayList({"x=y", "["}));
    EXPECT_EQ(s.ReadInfoValue("TITLE"), "A tutorial");
    EXPECT_EQ(s.ReadInfoValue("Image"), "");
    EXPECT_FALSE(s.Utf8());
}

TEST(DemoScript, MissingSectionsAreAppended) {
    TQelDemoScript s;
    s.LoadFromBytes("Title=x\nPause 1\n");
    EXPECT_EQ(Names(s), QByteArrayList({"Info", "Script"}));
    EXPECT_TRUE(s.GetSection(0).isEmpty());
    EXPECT_TRUE(s.GetSection(1).isEmpty());
    EXPECT_EQ(s.SaveToBytes(), "[Info]\r\n[Script]\r\n");

    s.LoadFromBytes("[Script]\nPause\n[1033]\nTitle=T\n");
    EXPECT_EQ(Names(s), QByteArrayList({"Script", "1033", "Info"}));

    s.Clear();
    EXPECT_EQ(s.ScriptLines(), nullptr);
    s.New();
    EXPECT_EQ(Names(s), QByteArrayList({"Info", "Script"}));
    EXPECT_THROW(s.GetSection(2), EQelError);
    EXPECT_THROW(s.DeleteSection(-1), EQelError);
}

TEST(DemoScript, RoundTripsByteForByte) {
    const QByteArray normal =
        "\xEF\xBB\xBF[Info]\r\nTitle=Intro\r\nImage=intro.jpg\r\n[Script]\r\nMessage \"%Hello\", 2\r\n"
        "MouseCurvedMove Image, 10, 20\r\n[1049]\r\nHello=\xD0\x9F\xD1\x80\xD0\xB8\r\n[Extra]\r\nkeep me\r\n";
    TQelDemoScript s;
    s.LoadFromBytes(normal);
    EXPECT_TRUE(s.Utf8());
    EXPECT_EQ(s.SaveToBytes(), normal);

    // A messy file loses its comments, blank lines and blanks around "=" once;
    // after that it stays as it is.
    s.LoadFromBytes("\xEF\xBB\xBF  [Script]\n\n; c\nPause   =  1\r\n[Info]\r\n");
    const QByteArray once = s.SaveToBytes();
    EXPECT_EQ(once, "\xEF\xBB\xBF[Script]\r\nPause=1\r\n[Info]\r\n");
    TQelDemoScript again;
    again.LoadFromBytes(once);
    EXPECT_EQ(again.SaveToBytes(), once);

    QTemporaryDir dir;
    const QString path = dir.filePath("a.dsc");
    s.LoadFromBytes(normal);
    s.SaveToFile(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), normal);
    EXPECT_THROW(s.SaveToFile(dir.filePath("missing/a.dsc")), EQelError);
}

TEST(DemoScript, SavingOntoAFullDiskThrowsAndKeepsTheOldScript) {
    QTemporaryDir dir;
    if (!QelOnSmallFileSystem(dir.path())) return;
    const QString path = dir.filePath("a.dsc");
    TQelDemoScript s;
    s.LoadFromBytes("[Script]\r\nPause=1\r\n");
    s.SaveToFile(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();
    QelFillFileSystem(dir.path());
    s.LoadFromBytes("[Script]\r\nPause=2\r\nPause=3\r\n");
    EXPECT_THROW(s.SaveToFile(path), EQelError);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
}

TEST(DemoScript, SignatureEdgeCases) {
    TQelDemoScript s;
    s.LoadFromBytes("\xEF\xBB\xBF");
    EXPECT_TRUE(s.Utf8());
    EXPECT_EQ(Names(s), QByteArrayList({"Info", "Script"}));
    s.LoadFromBytes("\xEF\xBB[Script]\nPause\n");  // a cut signature is not one
    EXPECT_FALSE(s.Utf8());
    EXPECT_EQ(s.ScriptLines()->size(), 0);
    s.LoadFromBytes("[Script]\n\xEF\xBB\xBFPause\n");  // only the first line counts
    EXPECT_FALSE(s.Utf8());
    EXPECT_EQ(s.ScriptLines()->front(), "\xEF\xBB\xBFPause");
}

TEST(DemoScript, ClearAssignAndSections) {
    TQelDemoScript a;
    a.LoadFromBytes("\xEF\xBB\xBF[Script]\nPause\n");
    a.Clear();
    EXPECT_TRUE(a.Utf8());  // Clear keeps the flag

    QTemporaryDir dir;
    const QString path = dir.filePath("mine.dsc");
    WriteFile(path, "[Info]\n");
    TQelDemoScript b;
    b.LoadFromFile(path);
    TQelDemoScript source;
    source.LoadFromBytes("\xEF\xBB\xBF[Script]\nPause\n");
    b.Assign(source);
    EXPECT_TRUE(b.Utf8());
    EXPECT_EQ(b.FileName(), path);  // keeps its own name
    EXPECT_EQ(Names(b), QByteArrayList({"Script", "Info"}));
    source.ScriptLines()->append("MouseUp");
    EXPECT_EQ(b.ScriptLines()->size(), 1);  // a deep copy

    const int extra = b.AddSection("script");  // duplicates are allowed; the first is found
    b.GetSection(extra).append("Pause 5");
    EXPECT_EQ(b.ScriptLines()->front(), "Pause");
    int index = -1;
    EXPECT_TRUE(b.FindSection("SCRIPT", index));
    EXPECT_EQ(index, 0);
    b.DeleteSection(0);
    EXPECT_EQ(b.ScriptLines()->front(), "Pause 5");
    EXPECT_FALSE(b.FindSection("Nope", index));
}

TEST(DemoScript, FailedLoadChangesNothing) {
    QTemporaryDir dir;
    const QString good = dir.filePath("good.dsc");
    WriteFile(good, "[Script]\nPause 1\n");
    TQelDemoScript s;
    s.LoadFromFile(good);

    const QString fifo = dir.filePath("pipe.dsc");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString large = dir.filePath("large.dsc");
    {
        QFile f(large);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(TQelDemoScript::MaxFileSize + 1));
    }
    for (const QString& bad : {dir.filePath("missing.dsc"), dir.path(), fifo, large}) {
        EXPECT_THROW(s.LoadFromFile(bad), EQelError) << bad.toStdString();
        EXPECT_EQ(s.FileName(), good);
        EXPECT_EQ(*s.ScriptLines(), QByteArrayList({"Pause 1"}));
    }
    EXPECT_EQ(s.GetTitle(), "good");
}

TEST(DemoScript, HostileContentLoads) {
    TQelDemoScript s;
    QByteArray bytes = "[Script]\n" + QByteArray(3'000'000, 'M') + "\n[Info]\nTitle=\x81\x90\xFF\n";
    bytes.append(QByteArray("\0\0[x]\n\0", 7));
    s.LoadFromBytes(bytes);
    EXPECT_EQ(s.ScriptLines()->size(), 1);
    EXPECT_EQ(s.GetTitle(), QString::fromUtf8("\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xBF"));  // undefined bytes: U+FFFD
}

class DemoScriptLanguages : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(FDir.filePath("en.ini"), "[Language]\nLangId=1033\nLanguage=English\n");
        WriteFile(FDir.filePath("ru.ini"), "[Language]\nLangId=1049\nLanguage=Russian\n");
        FLocalizer = std::make_unique<TQelLocalizer>(FDir.path(), 1033);
        ASSERT_EQ(TQelLocalizer::Instance(), FLocalizer.get());
    }
    void TearDown() override {
        FLocalizer.reset();
        QLocale::setDefault(FSavedLocale);
    }

    QTemporaryDir FDir;
    QLocale FSavedLocale;
    std::unique_ptr<TQelLocalizer> FLocalizer;
};

TEST_F(DemoScriptLanguages, TitleFallsBackPerSectionNotPerKey) {
    FLocalizer->SetLanguage(1049);
    TQelDemoScript s;
    s.LoadFromBytes("[Info]\nTitle=Info\n[1049]\nHello=x\n[1033]\nTitle=Base\n");
    EXPECT_EQ(s.GetTitle(), "Info");

    s.LoadFromBytes("[Info]\nTitle=Info\n[1033]\nTitle=Base\n");
    EXPECT_EQ(s.GetTitle(), "Base");

    const QString path = FDir.filePath("intro.v2.dsc");
    WriteFile(path, "[Script]\n");
    s.LoadFromFile(path);
    EXPECT_EQ(s.GetTitle(), "intro.v2");
}

TEST_F(DemoScriptLanguages, TextsDecodedByEncoding) {
    FLocalizer->SetLanguage(1049);
    TQelDemoScript s;
    // Without a signature: the current language's code page (1251 here), also
    // for a text that comes from the base language's section.
    s.LoadFromBytes("[Info]\nTitle=Caf\xE9\n[1049]\nHello=\xCF\xF0\xE8\xE2\xE5\xF2\n");
    EXPECT_EQ(s.ReadLocalizedString("hello"), QString::fromUtf8("Привет"));
    EXPECT_EQ(s.GetTitle(), QString::fromUtf8("Café"));
    EXPECT_EQ(s.GetMessageText("%Hello"), QString::fromUtf8("Привет"));
    EXPECT_EQ(s.GetMessageText("%Missing"), "");
    EXPECT_EQ(s.GetMessageText("%"), "%");
    EXPECT_EQ(s.GetMessageText("Caf\xE9"), QString::fromUtf8("Café"));

    // With it: language texts are UTF-8, the Info title is not.
    s.LoadFromBytes("\xEF\xBB\xBF[Info]\nTitle=Caf\xC3\xA9\n[1033]\nHello=\xD0\x9F\xD1\x80\xD0\xB8\n");
    EXPECT_EQ(s.ReadLocalizedString("Hello"), QString::fromUtf8("При"));
    EXPECT_EQ(s.GetTitle(), QString::fromUtf8("CafÃ©"));

    s.LoadFromBytes("\xEF\xBB\xBF[1049]\nHello=\xD0\n");  // a cut UTF-8 sequence
    EXPECT_EQ(s.ReadLocalizedString("Hello"), QString(QChar::ReplacementCharacter));
}
