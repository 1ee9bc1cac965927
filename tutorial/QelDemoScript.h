// Tutorial scripts (".dsc"): an INI-style file of named sections ("Info",
// "Script" and one per language id) held in memory, and the parsed argument
// list of one script command line.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "QelClasses.h"

class QIODevice;

// The code page of texts that carry no language of their own (the "Info"
// title, plain Message texts). Fixed rather than taken from the environment:
// the process locale on Linux is UTF-8, which would decode such files
// differently from what they were written for.
constexpr uint16_t QelSystemAnsiCodePage = 1252;

// One section of a script: its name and its lines as read.
struct TQelDemoScriptSection {
    QByteArray Name;
    QByteArrayList Lines;
};

class TQelDemoScript {
public:
    // Scripts are tiny; anything larger is not a script and is refused
    // before it is read into memory.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    TQelDemoScript() = default;
    TQelDemoScript(const TQelDemoScript&) = delete;
    TQelDemoScript& operator=(const TQelDemoScript&) = delete;

    // Removes every section; the UTF-8 flag stays as it is.
    void Clear();
    // An empty script: Clear, then empty "Info" and "Script" sections.
    void New();
    // Copies every section and the UTF-8 flag; the file name stays our own.
    void Assign(const TQelDemoScript& source);

    // Throws EQelError when the file cannot be opened or read (or is not a
    // regular file of at most MaxFileSize bytes); the script, its file name
    // included, is then left as it was.
    void LoadFromFile(const QString& fileName);
    // Reads the device to its end (at most MaxFileSize bytes, else throws).
    void LoadFromStream(QIODevice& stream);
    // Splits at CR, LF or CR LF and reads the lines.
    void LoadFromBytes(const QByteArray& bytes);
    void LoadFromStrings(const QByteArrayList& lines);

    // The bytes SaveToFile writes.
    QByteArray SaveToBytes() const;
    // Replaces the file atomically; throws EQelError when it cannot be written.
    void SaveToFile(const QString& fileName) const;

    // The lines of the first section named "Script"; nullptr only after Clear.
    QByteArrayList* ScriptLines();
    const QByteArrayList* ScriptLines() const;

    int SectionCount() const { return int(FSections.size()); }
    // Section access by index throws EQelError for an index out of range.
    const QByteArray& SectionName(int index) const;
    QByteArrayList& GetSection(int index);
    const QByteArrayList& GetSection(int index) const;
    // The first section of that name, compared without regard to case.
    bool FindSection(const QByteArray& name, int& index) const;
    // Appends an empty section, even when one of that name exists.
    int AddSection(const QByteArray& name);
    void DeleteSection(int index);

    // Key's value in "Info"; empty when the key or the section is missing.
    QByteArray ReadInfoValue(const QByteArray& key) const;
    // Key's value in the current language's section, else in the base
    // language's section (no fallback for a single missing key).
    QString ReadLocalizedString(const QByteArray& key) const;
    // The localized "Title", else "Info" "Title", else the file's name
    // without folder and extension.
    QString GetTitle() const;
    // What a Message line shows for Text: a "%key" of two or more characters
    // is a localized text, anything else is shown as written.
    QString GetMessageText(std::string_view text) const;

    // 8-bit text in the fixed system code page as wide text.
    static QString FromSystemCodePage(std::string_view text);

    bool Utf8() const { return FUtf8; }
    const QString& FileName() const { return FFileName; }

private:
    void EnsureInvariant();
    const TQelDemoScriptSection* Section(const QByteArray& name) const;
    QString DecodeLanguageText(const QByteArray& value, uint16_t langId) const;
    void CheckIndex(int index) const;

    bool FUtf8 = false;
    QString FFileName;
    std::vector<TQelDemoScriptSection> FSections;
};

// The arguments of one command line: argument i under the id i, as a 32-bit
// integer, a double or 8-bit text.
class TQelDemoScriptParams : public TQelProperties {
public:
    // More arguments than this on one line are refused, so a hostile line
    // cannot exhaust memory.
    static constexpr int MaxArguments = 65536;

    // Replaces the whole list by the arguments parsed from Text. A number
    // that does not convert (such as "1-2", "+", "1E" or an integer out of
    // the 32-bit range) throws EQelError and leaves the list empty.
    //
    // Two choices the syntax leaves open: an empty item between two commas
    // is an empty bare word; a comma at the very end adds no item.
    void ParseText(std::string_view text);
    void ParseText(const QByteArray& text) { ParseText(std::string_view(text.constData(), size_t(text.size()))); }
    void ParseText(const char* text) { ParseText(std::string_view(text)); }

    // Linear copy (the inherited one looks up every id again).
    void Assign(const TQelCustomProperties* source) override;

    // An argument is numeric when it holds an integer or a double.
    bool IsNumeric(int index) const;
    // 0 for a missing or non-numeric argument.
    double AsDouble(int index) const;
    // Doubles are rounded to the nearest integer, halves to even.
    int32_t AsInteger(int index) const;
    // Text as stored; numbers written locale-free; empty when missing.
    std::string AsText(int index) const;

private:
    TQelVariant Argument(int index) const;
    void Append(uint32_t dataType, const void* data, size_t size);
};

// Splits a command line into its command word (ASCII upper case) and its
// argument text. Returns false for a comment line (an empty word or one that
// begins with "#", "*", "/" or ";"). An empty argument text means the line
// has no argument list.
bool QelSplitScriptLine(const QByteArray& line, QByteArray& command, QByteArray& arguments);
