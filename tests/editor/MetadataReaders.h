// Readers of saved files that share no code with the program: libpng itself,
// and exiftool and ImageMagick where they are installed. A test that needs a
// missing program skips with a message.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QtEndian>

#include <csetjmp>
#include <cstdio>
#include <utility>

#include <png.h>

inline bool HaveProgram(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

#define REQUIRE_PROGRAM(name) \
    if (!HaveProgram(name)) GTEST_SKIP() << name << " is not installed, so the saved file cannot be read back"

inline QByteArray RunProgram(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return QByteArray();
    return p.readAllStandardOutput();
}

// Every tag exiftool finds, as "Group:Tag" (family 1 groups: IFD0, ExifIFD,
// IFD1, XMP-dc, ICC-header, PNG, File, ...), values unconverted.
inline QJsonObject ExifTool(const QString& path) {
    const QByteArray out = RunProgram(QStringLiteral("exiftool"),
                                      {QStringLiteral("-json"), QStringLiteral("-a"), QStringLiteral("-G1"),
                                       QStringLiteral("-n"), path});
    return QJsonDocument::fromJson(out).array().at(0).toObject();
}

// The bytes of one tag as exiftool extracts them (ICC_Profile, for one).
inline QByteArray ExifToolBytes(const QString& path, const char* tag) {
    return RunProgram(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-") + QLatin1String(tag), path});
}

// The colour profile ImageMagick finds in the file; empty without one.
inline QByteArray MagickProfile(const QString& path) {
    return RunProgram(QStringLiteral("convert"), {path, QStringLiteral("icc:-")});
}

// What libpng reads before the image data.
struct TPngChunks {
    bool Read = false;
    QByteArray ProfileName, Profile, Exif;
    QList<std::pair<QByteArray, QString>> Texts;
};

inline TPngChunks ReadPngChunks(const QString& path) {
    TPngChunks result;
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f) return result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, [](png_structp, png_const_charp) {});
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &length)) {
            result.ProfileName = name;
            result.Profile = QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length));
        }
        png_bytep exif = nullptr;
        png_uint_32 exifLength = 0;
        if (png_get_eXIf_1(png, info, &exifLength, &exif))
            result.Exif = QByteArray(reinterpret_cast<const char*>(exif), qsizetype(exifLength));
        png_textp texts = nullptr;
        const int count = png_get_text(png, info, &texts, nullptr);
        for (int i = 0; i < count; ++i) {
            const bool utf8 = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE;
            const qsizetype size = qsizetype(utf8 ? texts[i].itxt_length : texts[i].text_length);
            result.Texts.append({QByteArray(texts[i].key), utf8 ? QString::fromUtf8(texts[i].text, size)
                                                                 : QString::fromLatin1(texts[i].text, size)});
        }
        result.Read = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return result;
}

// A colour profile libpng and every other reader accept: a header for
// Space ("RGB " or "GRAY"), a white point and the description, older text
// type or (Multilingual) the newer type with one English text.
inline QByteArray IccProfile(const char* space, const QString& description, bool multilingual = false) {
    auto be32 = [](uint32_t v) {
        QByteArray b(4, '\0');
        qToBigEndian<uint32_t>(v, b.data());
        return b;
    };
    QByteArray desc;
    if (multilingual) {
        desc = QByteArray("mluc") + be32(0) + be32(1) + be32(12) + "enUS" + be32(uint32_t(description.size() * 2)) +
               be32(28);
        for (QChar c : description) desc += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
    } else {
        const QByteArray text = description.toLatin1() + '\0';
        // No Unicode or ScriptCode text after the ASCII one.
        desc = QByteArray("desc") + be32(0) + be32(uint32_t(text.size())) + text + QByteArray(4 + 4 + 2 + 1 + 67, '\0');
    }
    while (desc.size() % 4) desc += '\0';
    const QByteArray white = QByteArray("XYZ ") + be32(0) + be32(0xF6D6) + be32(0x10000) + be32(0xD32D);
    const uint32_t table = 128 + 4 + 2 * 12, descAt = table, whiteAt = descAt + uint32_t(desc.size());
    const uint32_t size = whiteAt + uint32_t(white.size());
    QByteArray header = be32(size) + "none" + be32(0x02100000) + "mntr" + QByteArray(space, 4) + "XYZ " +
                        QByteArray(12, '\0') + "acsp" + QByteArray(24, '\0') + be32(0) + be32(0xF6D6) +
                        be32(0x10000) + be32(0xD32D) + QByteArray(48, '\0');
    header += be32(2) + "desc" + be32(descAt) + be32(uint32_t(desc.size())) + "wtpt" + be32(whiteAt) +
              be32(uint32_t(white.size()));
    return header + desc + white;
}
