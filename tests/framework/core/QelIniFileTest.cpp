#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "QelIniFile.h"

TEST(QelIniFile, KeepsValuesUntouched) {
    TQelIniFile ini;
    ini.SetText("LangId=5\r\n"  // before any section: ignored
                "; comment\r"
                "  [ Language ]  \n"
                "  LangId =  1049 \n"
                "LANGID=7\n"
                "no equals sign\n"
                "[strings]\n"
                "20=x=y\n"
                "21=\"quoted\", with comma; and \\n\n"
                "22=\n"
                "[Language]\n"
                "Language=Русский\n");
    EXPECT_EQ(ini.SectionCount(), 2);
    // The first key wins, whatever its case; names compare without case.
    EXPECT_EQ(ini.ReadString("LANGUAGE", "langid", "?"), "1049");
    // A repeated section continues the first.
    EXPECT_EQ(ini.ReadString("Language", "Language", "?"), "Русский");
    EXPECT_EQ(ini.ReadString("Strings", "20", "?"), "x=y");
    EXPECT_EQ(ini.ReadString("Strings", "21", "?"), "\"quoted\", with comma; and \\n");
    EXPECT_EQ(ini.ReadString("Strings", "22", "?"), "");
    EXPECT_EQ(ini.ReadString("Strings", "23", "?"), "?");
    EXPECT_EQ(ini.ReadString("Missing", "x", "d"), "d");
    EXPECT_EQ(ini.ReadSection("Strings").size(), 3u);
    EXPECT_TRUE(ini.ReadSection("Missing").empty());

}

TEST(QelIniFile, ParseDecimalAcceptsOnlyWholeNumbers) {
    int64_t v = -1;
    EXPECT_TRUE(TQelIniFile::ParseDecimal(" 1033 ", v));
    EXPECT_EQ(v, 1033);
    EXPECT_TRUE(TQelIniFile::ParseDecimal("-12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(TQelIniFile::ParseDecimal("+7", v));
    EXPECT_EQ(v, 7);
    for (const char* bad : {"", "  ", "abc", "12a", "1 2", "0x10", "1.5", "+", "-", "99999999999999999999"})
        EXPECT_FALSE(TQelIniFile::ParseDecimal(bad, v)) << bad;
}

TEST(QelIniFile, ManySectionsLoadQuickly) {
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "[s" + std::to_string(i) + "]\nk=v\n";
    const auto start = std::chrono::steady_clock::now();
    TQelIniFile ini;
    ini.SetText(text);
    EXPECT_EQ(ini.SectionCount(), 200000);
    EXPECT_EQ(ini.ReadString("S199999", "K", ""), "v");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}
