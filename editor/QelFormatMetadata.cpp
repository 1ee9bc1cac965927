#include "QelFormatMetadata.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <zlib.h>

namespace {

const QByteArray CommentKeyword("Comment");

// --- JPEG ------------------------------------------------------------------------

const QByteArray XmpSignature("http://ns.adobe.com/xap/1.0/", 29);
const QByteArray ExtensionSignature("http://ns.adobe.com/xmp/extension/", 35);
// Signature, GUID, the whole extension's length and this piece's offset.
constexpr int64_t ExtensionHeader = 35 + 32 + 4 + 4;
// The bytes a segment holds after its marker and length.
constexpr int64_t MaxSegmentBody = 65533;

bool StartsWith(const uint8_t* Body, int64_t Size, const QByteArray& Signature) {
    return Size >= Signature.size() && std::memcmp(Body, Signature.constData(), size_t(Signature.size())) == 0;
}

QByteArray Segment(uint8_t Marker, const QByteArray& Body) {
    QByteArray s(4, '\0');
    s[0] = char(0xFF);
    s[1] = char(Marker);
    qToBigEndian<uint16_t>(uint16_t(Body.size() + 2), s.data() + 2);
    return s + Body;
}

// UTF-8 where the bytes are valid UTF-8, else Latin-1; trailing NULs dropped.
QString TextOf(const QByteArray& Bytes) {
    qsizetype n = Bytes.size();
    while (n > 0 && Bytes[n - 1] == '\0') --n;
    return QelPropertyItemText(Bytes.constData(), size_t(n));
}

// --- PNG -------------------------------------------------------------------------

constexpr int64_t PngSignatureSize = 8;
// Decompressed texts past these sizes are not read: a few bytes of zlib
// data can claim gigabytes.
constexpr qsizetype MaxTextSize = qsizetype(4) << 20;
constexpr qsizetype MaxTextsSize = qsizetype(16) << 20;

bool IsPng(const QByteArray& Png) {
    return Png.size() >= PngSignatureSize && std::memcmp(Png.constData(), "\x89PNG\r\n\x1a\n", 8) == 0;
}

// Calls Visit(At, Type, Data, Length) for each whole chunk (At: the offset
// of its length field) until Visit answers false; a damaged chunk ends the
// walk.
template <class TVisit>
void ForEachPngChunk(const QByteArray& Png, TVisit&& Visit) {
    if (!IsPng(Png)) return;
    const auto* d = reinterpret_cast<const uint8_t*>(Png.constData());
    const int64_t n = Png.size();
    for (int64_t i = PngSignatureSize; i + 12 <= n;) {
        const int64_t length = qFromBigEndian<uint32_t>(d + i);
        if (length > n - i - 12) return;
        if (!Visit(i, QByteArray(reinterpret_cast<const char*>(d + i + 4), 4), d + i + 8, length)) return;
        i += length + 12;
    }
}

QByteArray PngChunk(const char* Type, const QByteArray& Data) {
    QByteArray chunk(4, '\0');
    qToBigEndian<uint32_t>(uint32_t(Data.size()), chunk.data());
    chunk += QByteArray(Type, 4) + Data;
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(chunk.constData() + 4),
                            uInt(chunk.size() - 4));
    QByteArray tail(4, '\0');
    qToBigEndian<uint32_t>(uint32_t(crc), tail.data());
    return chunk + tail;
}

// A keyword as the PNG format allows it.
bool ValidKeyword(const QByteArray& Keyword) {
    if (Keyword.isEmpty() || Keyword.size() > 79 || Keyword.front() == ' ' || Keyword.back() == ' ') return false;
    for (qsizetype i = 0; i < Keyword.size(); ++i) {
        const auto c = uint8_t(Keyword[i]);
        if ((c < 32 || c > 126) && c < 161) return false;
        if (c == ' ' && Keyword[i + 1] == ' ') return false;
    }
    return true;
}

// Inflates a zlib stream of at most Limit bytes; false when it is damaged,
// cut short or longer.
bool Inflate(const uint8_t* Data, int64_t Size, qsizetype Limit, QByteArray& Out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(Data);
    z.avail_in = uInt(std::min<int64_t>(Size, std::numeric_limits<uInt>::max()));
    Out.clear();
    int rc = Z_OK;
    while (rc == Z_OK) {
        const qsizetype have = Out.size();
        const qsizetype room = std::min<qsizetype>(std::max<qsizetype>(have, 4096), Limit + 1 - have);
        if (room <= 0) break;
        Out.resize(have + room);
        z.next_out = reinterpret_cast<Bytef*>(Out.data() + have);
        z.avail_out = uInt(room);
        rc = inflate(&z, Z_NO_FLUSH);
        Out.resize(have + room - qsizetype(z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && Out.size() <= Limit;
}

// Keywords under which a PNG carries EXIF, IPTC or XMP as text: the
// metadata writer makes them from the metadata itself.
bool IsMetadataKeyword(const QByteArray& Keyword) {
    return Keyword.startsWith("Raw profile type ") || Keyword == "XML:com.adobe.xmp";
}

bool Latin1(const QString& Text) {
    return std::all_of(Text.cbegin(), Text.cend(), [](QChar c) { return c.unicode() > 0 && c.unicode() <= 0xFF; });
}

// --- ICC -------------------------------------------------------------------------

const QByteArray DefaultProfileName("ICC profile");

// The profile's description: a 'desc' tag of the older text type, or of
// the multi-language type (English where it has it, else its first text).
QString ProfileDescription(const QByteArray& Profile) {
    const auto* d = reinterpret_cast<const uint8_t*>(Profile.constData());
    const int64_t n = Profile.size();
    if (n < 132) return QString();
    const int64_t count = std::min<int64_t>(qFromBigEndian<uint32_t>(d + 128), (n - 132) / 12);
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* entry = d + 132 + 12 * i;
        if (std::memcmp(entry, "desc", 4) != 0) continue;
        const int64_t at = qFromBigEndian<uint32_t>(entry + 4), size = qFromBigEndian<uint32_t>(entry + 8);
        if (at > n || size > n - at || size < 12) return QString();
        const uint8_t* tag = d + at;
        if (std::memcmp(tag, "desc", 4) == 0) {
            const int64_t length = std::min<int64_t>(qFromBigEndian<uint32_t>(tag + 8), size - 12);
            const auto* text = reinterpret_cast<const char*>(tag + 12);
            const void* nul = std::memchr(text, 0, size_t(length));
            return QString::fromLatin1(text, nul ? static_cast<const char*>(nul) - text : qsizetype(length));
        }
        if (std::memcmp(tag, "mluc", 4) != 0 || size < 16) return QString();
        const int64_t records = qFromBigEndian<uint32_t>(tag + 8), recordSize = qFromBigEndian<uint32_t>(tag + 12);
        if (recordSize < 12) return QString();
        const int64_t usable = std::min<int64_t>(records, (size - 16) / recordSize);
        int64_t chosen = -1;
        for (int64_t r = 0; r < usable; ++r) {
            const uint8_t* record = tag + 16 + r * recordSize;
            if (chosen < 0 || std::memcmp(record, "en", 2) == 0) chosen = r;
            if (std::memcmp(record, "enUS", 4) == 0) break;
        }
        if (chosen < 0) return QString();
        const uint8_t* record = tag + 16 + chosen * recordSize;
        const int64_t length = qFromBigEndian<uint32_t>(record + 4), offset = qFromBigEndian<uint32_t>(record + 8);
        if (offset > size || length > size - offset) return QString();
        QString text(qsizetype(length / 2), Qt::Uninitialized);
        for (qsizetype k = 0; k < text.size(); ++k) text[k] = QChar(qFromBigEndian<uint16_t>(tag + offset + 2 * k));
        while (!text.isEmpty() && text.back() == QChar(0)) text.chop(1);
        return text;
    }
    return QString();
}

}  // namespace

// --- JPEG ------------------------------------------------------------------------

TQelImageTexts QelReadJpegComments(const QByteArray& Jpeg) {
    TQelImageTexts texts;
    const auto* d = reinterpret_cast<const uint8_t*>(Jpeg.constData());
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (marker == 0xFE)
            texts.append({CommentKeyword, TextOf(QByteArray(reinterpret_cast<const char*>(d + body), bodySize))});
        return true;
    });
    return texts;
}

QByteArray QelReadJpegXmpExtension(const QByteArray& Jpeg, const QByteArray& Guid) {
    if (Guid.size() != 32) return QByteArray();
    const auto* d = reinterpret_cast<const uint8_t*>(Jpeg.constData());
    struct TPiece {
        int64_t Offset, Body, Size;
    };
    std::vector<TPiece> pieces;
    int64_t total = -1;
    bool consistent = true;
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (marker != 0xE1 || bodySize < ExtensionHeader || !StartsWith(d + body, bodySize, ExtensionSignature) ||
            std::memcmp(d + body + 35, Guid.constData(), 32) != 0)
            return true;
        const int64_t length = qFromBigEndian<uint32_t>(d + body + 67), offset = qFromBigEndian<uint32_t>(d + body + 71);
        const int64_t size = bodySize - ExtensionHeader;
        if ((total >= 0 && length != total) || offset > length || size > length - offset) consistent = false;
        total = length;
        pieces.push_back({offset, body + ExtensionHeader, size});
        return consistent;
    });
    // Every byte of the claimed length lies in the file, so it is no larger.
    if (!consistent || pieces.empty() || total <= 0 || total > Jpeg.size()) return QByteArray();
    std::sort(pieces.begin(), pieces.end(), [](const TPiece& a, const TPiece& b) { return a.Offset < b.Offset; });
    QByteArray whole(qsizetype(total), '\0');
    int64_t covered = 0;
    for (const TPiece& p : pieces) {
        if (p.Offset > covered) return QByteArray();  // a piece is missing
        std::memcpy(whole.data() + p.Offset, d + p.Body, size_t(p.Size));
        covered = std::max(covered, p.Offset + p.Size);
    }
    return covered == total ? whole : QByteArray();
}

void QelAddJpegSegments(QByteArray& Jpeg, const QByteArray& Guid, const QByteArray& Extension,
                        const TQelImageTexts& Texts, QStringList& LeftOut) {
    const auto* d = reinterpret_cast<const uint8_t*>(Jpeg.constData());
    int64_t afterXmp = -1, afterApps = 2;
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (marker < 0xE0 || marker > 0xEF) return false;
        afterApps = body + bodySize;
        if (marker == 0xE1 && afterXmp < 0 && StartsWith(d + body, bodySize, XmpSignature)) afterXmp = afterApps;
        return true;
    });
    QByteArray comments;
    for (const TQelImageText& text : Texts) {
        if (text.Keyword != CommentKeyword) continue;
        const QByteArray bytes = text.Text.toUtf8();
        if (bytes.size() > MaxSegmentBody)
            LeftOut << QStringLiteral("comment");
        else
            comments += Segment(0xFE, bytes);
    }
    if (!comments.isEmpty()) Jpeg.insert(afterApps, comments);
    if (afterXmp < 0 || Extension.isEmpty() || Guid.size() != 32) return;
    QByteArray segments;
    constexpr int64_t piece = MaxSegmentBody - ExtensionHeader;
    for (int64_t offset = 0; offset < Extension.size(); offset += piece) {
        QByteArray body = ExtensionSignature + Guid + QByteArray(8, '\0');
        qToBigEndian<uint32_t>(uint32_t(Extension.size()), body.data() + 67);
        qToBigEndian<uint32_t>(uint32_t(offset), body.data() + 71);
        body += Extension.mid(qsizetype(offset), qsizetype(piece));
        segments += Segment(0xE1, body);
    }
    Jpeg.insert(afterXmp, segments);
}

// --- PNG -------------------------------------------------------------------------

TQelImageTexts QelReadPngTexts(const QByteArray& Png) {
    TQelImageTexts texts;
    qsizetype budget = MaxTextsSize;
    ForEachPngChunk(Png, [&](int64_t, const QByteArray& type, const uint8_t* data, int64_t length) {
        const bool plain = type == "tEXt", compressed = type == "zTXt", international = type == "iTXt";
        if (!plain && !compressed && !international) return true;
        const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size_t(std::min<int64_t>(length, 80))));
        if (!nul) return true;
        const QByteArray keyword(reinterpret_cast<const char*>(data), nul - data);
        if (!ValidKeyword(keyword) || IsMetadataKeyword(keyword)) return true;
        const uint8_t* p = nul + 1;
        int64_t rest = length - (p - data);
        QByteArray bytes;
        bool inflate = compressed;
        if (compressed) {
            if (rest < 1 || *p != 0) return true;
            ++p;
            --rest;
        } else if (international) {
            // Compression flag and method, then a language tag and a
            // translated keyword, each ending in a NUL.
            if (rest < 2 || p[1] != 0) return true;
            inflate = p[0] != 0;
            p += 2;
            rest -= 2;
            for (int field = 0; field < 2; ++field) {
                const void* end = std::memchr(p, 0, size_t(rest));
                if (!end) return true;
                rest -= static_cast<const uint8_t*>(end) + 1 - p;
                p = static_cast<const uint8_t*>(end) + 1;
            }
        }
        if (inflate) {
            if (!Inflate(p, rest, std::min(MaxTextSize, budget), bytes)) return true;
        } else {
            if (rest > budget) return true;
            bytes = QByteArray(reinterpret_cast<const char*>(p), qsizetype(rest));
        }
        budget -= bytes.size();
        texts.append({keyword, international ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes)});
        return true;
    });
    return texts;
}

void QelAddPngChunks(QByteArray& Png, const QByteArray& ProfileName, const QByteArray& Exif,
                     const TQelImageTexts& Texts, QStringList& LeftOut) {
    int64_t afterHeader = -1;
    int64_t profileAt = -1, profileLength = 0;
    ForEachPngChunk(Png, [&](int64_t at, const QByteArray& type, const uint8_t*, int64_t length) {
        if (type == "IHDR") afterHeader = at + 12 + length;
        if (type == "iCCP") {
            profileAt = at;
            profileLength = length;
        }
        return type != "IDAT";
    });
    if (afterHeader < 0) return;
    if (profileAt >= 0 && ValidKeyword(ProfileName)) {
        const QByteArray data = Png.mid(qsizetype(profileAt + 8), qsizetype(profileLength));
        const qsizetype nul = data.indexOf('\0');
        if (nul >= 0 && !ValidKeyword(data.left(nul)))
            Png.replace(qsizetype(profileAt), qsizetype(profileLength + 12), PngChunk("iCCP", ProfileName + data.mid(nul)));
    }
    QByteArray chunks;
    if (!Exif.isEmpty()) chunks += PngChunk("eXIf", Exif);
    for (const TQelImageText& text : Texts) {
        if (!ValidKeyword(text.Keyword) || IsMetadataKeyword(text.Keyword)) {
            LeftOut << QStringLiteral("text \"%1\"").arg(QString::fromLatin1(text.Keyword));
            continue;
        }
        if (Latin1(text.Text))
            chunks += PngChunk("tEXt", text.Keyword + '\0' + text.Text.toLatin1());
        else
            // Uncompressed, with no language and no translated keyword.
            chunks += PngChunk("iTXt", text.Keyword + QByteArray("\0\0\0\0\0", 5) + text.Text.toUtf8());
    }
    Png.insert(qsizetype(afterHeader), chunks);
}

QByteArray QelIccProfileName(const QByteArray& Profile) {
    const QString description = ProfileDescription(Profile);
    if (!Latin1(description)) return DefaultProfileName;
    const QByteArray name = description.toLatin1();
    return ValidKeyword(name) ? name : DefaultProfileName;
}

// --- BMP -------------------------------------------------------------------------

QByteArray QelReadBmpProfile(const QByteArray& Bmp) {
    // File header 14 bytes; the version 5 information header is 124, with
    // the colour space type at 56 and the profile's offset (from the
    // information header) and size at 112 and 116.
    constexpr int64_t Info = 14;
    const auto* d = reinterpret_cast<const uint8_t*>(Bmp.constData());
    const int64_t n = Bmp.size();
    if (n < Info + 124 || d[0] != 'B' || d[1] != 'M' || qFromLittleEndian<uint32_t>(d + Info) < 124) return QByteArray();
    if (std::memcmp(d + Info + 56, "DEBM", 4) != 0) return QByteArray();  // PROFILE_EMBEDDED, 'MBED'
    const int64_t at = Info + qFromLittleEndian<uint32_t>(d + Info + 112);
    const int64_t size = qFromLittleEndian<uint32_t>(d + Info + 116);
    if (size == 0 || at > n || size > n - at) return QByteArray();
    return Bmp.mid(qsizetype(at), qsizetype(size));
}
