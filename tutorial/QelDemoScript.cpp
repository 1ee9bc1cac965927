#include "QelDemoScript.h"

#include <QFile>

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include "QelAtomicWrite.h"
#include "QelError.h"
#include "QelGeometry.h"
#include "QelHelpers.h"
#include "QelIniFile.h"
#include "QelLocalizer.h"
#include "QelRegularFile.h"

namespace {

const QByteArray Utf8Signature("\xEF\xBB\xBF");

std::string_view View(const QByteArray& bytes) { return std::string_view(bytes.constData(), size_t(bytes.size())); }

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

QByteArray TrimBlanks(const QByteArray& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlankOrControl(s[b])) ++b;
    while (e > b && IsBlankOrControl(s[e - 1])) --e;
    return s.mid(b, e - b);
}

bool SameName(const QByteArray& a, const QByteArray& b) { return TQelIniFile::SameText(View(a), View(b)); }

// The value of the first "name=value" line whose name is Key.
bool FindValue(const QByteArrayList& lines, const QByteArray& key, QByteArray& value) {
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && SameName(line.left(eq), key)) {
            value = line.mid(eq + 1);
            return true;
        }
    }
    return false;
}

constexpr int32_t TextCannotOpenScript = 1202;
constexpr int32_t TextNotInteger = 1203;
constexpr int32_t TextNotNumber = 1204;
constexpr int32_t TextTooManyArguments = 1205;

std::string QuoteForMessage(std::string_view run) {
    // A hostile line can make a run megabytes long; the message stays short.
    constexpr size_t MaxShown = 40;
    if (run.size() <= MaxShown) return "\"" + std::string(run) + "\"";
    return "\"" + std::string(run.substr(0, MaxShown)) + "...\"";
}

}  // namespace

// ---- TQelDemoScript ---------------------------------------------------------

void TQelDemoScript::Clear() { FSections.clear(); }

void TQelDemoScript::New() {
    Clear();
    EnsureInvariant();
}

void TQelDemoScript::Assign(const TQelDemoScript& source) {
    if (&source == this) return;
    FSections = source.FSections;
    FUtf8 = source.FUtf8;
    EnsureInvariant();
}

void TQelDemoScript::EnsureInvariant() {
    int index = 0;
    if (!FindSection("Info", index)) AddSection("Info");
    if (!FindSection("Script", index)) AddSection("Script");
}

void TQelDemoScript::LoadFromFile(const QString& fileName) {
    const TQelFileContents file = QelReadRegularFile(fileName, MaxFileSize);
    if (file.Fault != TQelReadFault::None) {
        QString reason = file.SystemError;
        switch (file.Fault) {
        case TQelReadFault::NotRegular: reason = QStringLiteral("It is not a regular file."); break;
        case TQelReadFault::TooLarge: reason = QStringLiteral("It is too large for a tutorial script."); break;
        case TQelReadFault::OutOfMemory: reason = QStringLiteral("There is not enough memory."); break;
        default: break;
        }
        // The sentence in the user's language, the reason under it as the
        // file system gives it.
        throw EQelError((QelFormatText(QelText(TextCannotOpenScript, QStringLiteral("Could not open the tutorial %s.")),
                                       fileName) +
                         u'\n' + reason)
                            .toStdString());
    }
    LoadFromBytes(file.Bytes);
    // Only now: a failed load must not leave the name of a file that was never read.
    FFileName = fileName;
}

void TQelDemoScript::LoadFromStream(QIODevice& stream) {
    const QByteArray bytes = stream.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize) throw EQelError("The file is too large for a tutorial script.");
    if (const auto* file = qobject_cast<const QFileDevice*>(&stream); file && file->error() != QFileDevice::NoError)
        throw EQelError("Cannot read the tutorial script. " + file->errorString().toStdString());
    LoadFromBytes(bytes);
}

void TQelDemoScript::LoadFromBytes(const QByteArray& bytes) {
    QByteArrayList lines;
    for (std::string_view line : TQelIniFile::SplitLines(View(bytes)))
        lines.append(QByteArray(line.data(), qsizetype(line.size())));
    LoadFromStrings(lines);
}

void TQelDemoScript::LoadFromStrings(const QByteArrayList& lines) {
    Clear();
    FUtf8 = !lines.isEmpty() && lines.front().startsWith(Utf8Signature);
    TQelDemoScriptSection* current = nullptr;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = TrimBlanks(n == 0 && FUtf8 ? lines[n].mid(Utf8Signature.size()) : lines[n]);
        if (line.isEmpty() || line.front() == ';') continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            FSections.push_back(TQelDemoScriptSection{TrimBlanks(line.mid(1, line.size() - 2)), {}});
            current = &FSections.back();
            continue;
        }
        if (!current) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq >= 0) line = TrimBlanks(line.left(eq)) + '=' + TrimBlanks(line.mid(eq + 1));
        current->Lines.append(line);
    }
    EnsureInvariant();
}

QByteArray TQelDemoScript::SaveToBytes() const {
    QByteArray out;
    if (FUtf8 && !FSections.empty()) out += Utf8Signature;
    for (const TQelDemoScriptSection& s : FSections) {
        out += '[';
        out += s.Name;
        out += "]\r\n";
        for (const QByteArray& line : s.Lines) {
            out += line;
            out += "\r\n";
        }
    }
    return out;
}

void TQelDemoScript::SaveToFile(const QString& fileName) const {
    QString error;
    if (!QelWriteFileAtomically(fileName, SaveToBytes(), error)) throw EQelError(error.toStdString());
}

QByteArrayList* TQelDemoScript::ScriptLines() {
    int index = 0;
    return FindSection("Script", index) ? &FSections[size_t(index)].Lines : nullptr;
}

const QByteArrayList* TQelDemoScript::ScriptLines() const {
    int index = 0;
    return FindSection("Script", index) ? &FSections[size_t(index)].Lines : nullptr;
}

void TQelDemoScript::CheckIndex(int index) const {
    if (index < 0 || index >= SectionCount())
        throw EQelProgramError("Section index out of bounds (" + std::to_string(index) + ")");
}

const QByteArray& TQelDemoScript::SectionName(int index) const {
    CheckIndex(index);
    return FSections[size_t(index)].Name;
}

QByteArrayList& TQelDemoScript::GetSection(int index) {
    CheckIndex(index);
    return FSections[size_t(index)].Lines;
}

const QByteArrayList& TQelDemoScript::GetSection(int index) const {
    CheckIndex(index);
    return FSections[size_t(index)].Lines;
}

bool TQelDemoScript::FindSection(const QByteArray& name, int& index) const {
    for (size_t i = 0; i < FSections.size(); ++i) {
        if (SameName(FSections[i].Name, name)) {
            index = int(i);
            return true;
        }
    }
    return false;
}

int TQelDemoScript::AddSection(const QByteArray& name) {
    FSections.push_back(TQelDemoScriptSection{name, {}});
    return SectionCount() - 1;
}

void TQelDemoScript::DeleteSection(int index) {
    CheckIndex(index);
    FSections.erase(FSections.begin() + index);
}

const TQelDemoScriptSection* TQelDemoScript::Section(const QByteArray& name) const {
    int index = 0;
    return FindSection(name, index) ? &FSections[size_t(index)] : nullptr;
}

QByteArray TQelDemoScript::ReadInfoValue(const QByteArray& key) const {
    QByteArray value;
    if (const TQelDemoScriptSection* info = Section("Info")) FindValue(info->Lines, key, value);
    return value;
}

QString TQelDemoScript::FromSystemCodePage(std::string_view text) {
    std::u16string wide;
    if (AnsiToWideCodePage(text, QelSystemAnsiCodePage, wide)) return QString::fromStdU16String(wide);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString TQelDemoScript::DecodeLanguageText(const QByteArray& value, uint16_t langId) const {
    if (FUtf8) return QString::fromUtf8(value);
    const uint16_t codePage = QelAnsiCodePageOfLangId(langId);
    QString wide;
    if (codePage != 0 && QelAnsiToWide(value, codePage, wide)) return wide;
    return FromSystemCodePage(View(value));
}

QString TQelDemoScript::ReadLocalizedString(const QByteArray& key) const {
    const TQelLocalizer* localizer = TQelLocalizer::Instance();
    if (!localizer) return QString();
    const uint16_t current = localizer->GetCurrentLangId();
    const TQelDemoScriptSection* section = Section(QByteArray::number(current));
    if (!section) section = Section(QByteArray::number(localizer->GetBaseLangId()));
    QByteArray value;
    if (!section || !FindValue(section->Lines, key, value)) return QString();
    // Texts of the base language's section are read in the current language's
    // code page too: a non-UTF-8 script is written for one language.
    return DecodeLanguageText(value, current);
}

QString TQelDemoScript::GetTitle() const {
    QString title = ReadLocalizedString("Title");
    if (title.isEmpty()) title = FromSystemCodePage(View(ReadInfoValue("Title")));
    if (title.isEmpty()) title = QString::fromStdU16String(ExtractFileTitle(FFileName.toStdU16String()));
    return title;
}

QString TQelDemoScript::GetMessageText(std::string_view text) const {
    if (text.size() >= 2 && text.front() == '%')
        return ReadLocalizedString(QByteArray(text.data() + 1, qsizetype(text.size() - 1)));
    return FromSystemCodePage(text);
}

// ---- TQelDemoScriptParams ---------------------------------------------------

void TQelDemoScriptParams::Append(uint32_t dataType, const void* data, size_t size) {
    if (Count() >= MaxArguments)
        throw EQelError(QelText(TextTooManyArguments, QStringLiteral("Too many arguments.")).toStdString());
    if (size > std::numeric_limits<uint32_t>::max()) throw EQelOutOfMemory("Text too long for a script argument.");
    // Ids are the positions, so a new argument never replaces one: append
    // without the bag's search, which would make long lines quadratic.
    TQelPropertyValue v;
    v.Id = uint32_t(Count());
    v.DataType = dataType;
    v.Size = uint32_t(size);
    const auto* bytes = static_cast<const uint8_t*>(data);
    v.Data.assign(bytes, bytes + size);
    FItems.push_back(std::move(v));
}

void TQelDemoScriptParams::Assign(const TQelCustomProperties* source) {
    const auto* params = dynamic_cast<const TQelDemoScriptParams*>(source);
    if (!params) {
        TQelProperties::Assign(source);
        return;
    }
    if (params == this) return;
    Clear();
    FItems = params->FItems;
}

void TQelDemoScriptParams::ParseText(std::string_view text) {
    Clear();
    const size_t n = text.size();
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    };
    auto fail = [&](std::string_view run, bool integer) {
        Clear();
        const QString message = integer ? QelText(TextNotInteger, QStringLiteral("%s is not a valid integer value."))
                                        : QelText(TextNotNumber, QStringLiteral("%s is not a valid floating point value."));
        throw EQelError(QelFormatText(message, QString::fromStdString(QuoteForMessage(run))).toStdString());
    };

    skipBlanks();
    if (i >= n) return;
    for (;;) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const size_t start = i + 1;
            size_t end = text.find(c, start);
            if (end == std::string_view::npos) end = n;
            std::string value;
            value.reserve(end - start);
            for (size_t k = start; k < end; ++k) {
                if (text[k] == '\\' && k + 1 < end && text[k + 1] == 'n') {
                    value += '\n';
                    ++k;
                } else {
                    value += text[k];
                }
            }
            Append(QelPropString, value.data(), value.size());
            i = end < n ? end + 1 : n;
        } else if (c == '+' || c == '-' || (c >= '0' && c <= '9')) {
            const size_t start = i;
            bool isFloat = false;
            while (i < n) {
                const char d = text[i];
                if (d == '.' || d == 'E') isFloat = true;
                else if (!(d == '+' || d == '-' || (d >= '0' && d <= '9'))) break;
                ++i;
            }
            const std::string_view run = text.substr(start, i - start);
            std::string_view digits = run;
            // from_chars takes no leading "+"; a second sign after it is invalid.
            if (digits.front() == '+') {
                digits.remove_prefix(1);
                if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits = {};
            }
            const char* first = digits.data();
            const char* last = first + digits.size();
            if (isFloat) {
                double value = 0;
                const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
                // Out of range either way (1E999, 1E-999) fails like any other bad number.
                if (digits.empty() || ec != std::errc() || ptr != last) fail(run, false);
                Append(QelPropDouble, &value, sizeof value);
            } else {
                int32_t value = 0;
                const auto [ptr, ec] = std::from_chars(first, last, value, 10);
                if (digits.empty() || ec != std::errc() || ptr != last) fail(run, true);
                Append(QelPropInteger, &value, sizeof value);
            }
        } else if (text.substr(i, 5) == "false") {
            const int32_t value = 0;
            Append(QelPropInteger, &value, sizeof value);
            i += 5;
        } else if (text.substr(i, 4) == "true") {
            const int32_t value = -1;
            Append(QelPropInteger, &value, sizeof value);
            i += 4;
        } else {
            const size_t start = i;
            while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n' &&
                   text[i] != ',')
                ++i;
            Append(QelPropString, text.data() + start, i - start);
        }

        skipBlanks();
        if (i >= n || text[i] != ',') break;
        ++i;
        skipBlanks();
        if (i >= n) break;  // a trailing comma adds nothing
    }
}

TQelVariant TQelDemoScriptParams::Argument(int index) const {
    if (index < 0) return {};
    // Arguments are stored at their own position; fall back to the search for
    // a bag that was filled some other way.
    const TQelPropertyValue* v = Items(index);
    if (v && v->Id == uint32_t(index)) return GetValue(index);
    return GetValue(IndexOf(uint32_t(index)));
}

bool TQelDemoScriptParams::IsNumeric(int index) const {
    const TQelVariant v = Argument(index);
    return std::holds_alternative<int32_t>(v) || std::holds_alternative<double>(v);
}

double TQelDemoScriptParams::AsDouble(int index) const {
    const TQelVariant v = Argument(index);
    if (const int32_t* i = std::get_if<int32_t>(&v)) return *i;
    if (const double* d = std::get_if<double>(&v)) return *d;
    return 0;
}

int32_t TQelDemoScriptParams::AsInteger(int index) const {
    const TQelVariant v = Argument(index);
    if (const int32_t* i = std::get_if<int32_t>(&v)) return *i;
    if (const double* d = std::get_if<double>(&v)) return QelRoundEven(*d);
    return 0;
}

std::string TQelDemoScriptParams::AsText(int index) const {
    const TQelVariant v = Argument(index);
    if (const std::string* s = std::get_if<std::string>(&v)) return *s;
    if (const int32_t* i = std::get_if<int32_t>(&v)) return std::to_string(*i);
    if (const double* d = std::get_if<double>(&v)) {
        char buffer[32];
        // Fifteen significant digits, scientific only for very large or small values.
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d, std::chars_format::general, 15);
        return ec == std::errc() ? std::string(buffer, ptr) : std::string();
    }
    return {};
}

// ---- Command lines ----------------------------------------------------------

bool QelSplitScriptLine(const QByteArray& line, QByteArray& command, QByteArray& arguments) {
    command.clear();
    arguments.clear();
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    const qsizetype start = i;
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '(') ++i;
    if (i == start) return false;
    const char first = line[start];
    if (first == '#' || first == '*' || first == '/' || first == ';') return false;
    // ASCII letters only: other bytes of a command word stay as written.
    command = line.mid(start, i - start).toUpper();
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    arguments = line.mid(i);
    return true;
}
