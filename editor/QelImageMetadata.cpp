#include "QelImageMetadata.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include <exiv2/exiv2.hpp>

// Exiv2 sets up its XMP toolkit lazily, which is not safe when two threads
// read metadata at once (the open dialog's preview thread does); and its
// warnings about odd files would go to the terminal. Its first error binds
// its message catalogue, which takes the C library's lock of catalogues for
// writing: a scanner library that cancels a thread of its own inside a
// message lookup leaves that lock held for reading, and a first error after
// that would wait for ever. So the catalogue is bound here, once.
void QelPrepareImageMetadata() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        const Exiv2::Error bind(Exiv2::kerGeneralError);
        static_cast<void>(bind.what());
    });
}

namespace {

// Tags that describe how a file stores its pixels or where its directories
// lie: they belong to the file being written, never to the items.
bool IsLayoutTag(uint32_t Id) {
    switch (Id) {
    case 254: case 255: case 256: case 257: case 258: case 259: case 262: case 266:
    case 273: case 277: case 278: case 279: case 284: case 317: case 320:
    case 322: case 323: case 324: case 325: case 330: case 338: case 339: case 347:
    case 513: case 514: case 530:
    case 34665: case 34853: case 40965:
        return true;
    default:
        return Id >= 512 && Id <= 521;  // old-style JPEG-in-TIFF tags
    }
}

// Tags of the main directory that a save writes from elsewhere: a TIFF's
// XMP packet, its IPTC records (alone or among Photoshop's resources) and
// its colour profile.
bool IsCarriedApart(uint32_t Id) { return Id == 700 || Id == 33723 || Id == 34377 || Id == PropertyTagICCProfile; }

QByteArray ValueBytes(const Exiv2::Exifdatum& Datum) {
    const long size = Datum.size();
    if (size <= 0) return QByteArray();
    QByteArray bytes(size, Qt::Uninitialized);
    if (Datum.copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), Exiv2::littleEndian) != size) return QByteArray();
    return bytes;
}

const std::set<uint16_t>& PhotoTags() {
    static const std::set<uint16_t> tags = [] {
        std::set<uint16_t> result;
        for (const Exiv2::TagInfo* t = Exiv2::ExifTags::tagList("Photo"); t && t->tag_ != 0xffff; ++t)
            result.insert(t->tag_);
        return result;
    }();
    return tags;
}

// Items carry no directory, so the directory follows from the number: GPS
// tags are 0 to 31, the EXIF directory's come from its tag list, everything
// else goes to the main directory.
const char* GroupOf(uint32_t Id) {
    if (Id < 0x20) return "GPSInfo";
    if (PhotoTags().count(uint16_t(Id))) return "Photo";
    return "Image";
}

}  // namespace

bool QelReadPropertyItems(const QByteArray& FileData, TQelPropertyItems& Items) {
    TQelImageMetadata metadata;
    const bool read = QelReadImageMetadata(FileData, metadata);
    Items = std::move(metadata.Items);
    return read;
}

bool QelReadImageMetadata(const QByteArray& FileData, TQelImageMetadata& Metadata) {
    Metadata.Items.clear();
    Metadata.Xmp.clear();
    Metadata.Iptc.clear();
    if (FileData.isEmpty()) return false;
    QelPrepareImageMetadata();
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(FileData.constData()),
                                               long(FileData.size()));
        if (!image.get()) return false;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        TQelPropertyItems items;
        QByteArray profileTag;
        for (const Exiv2::Exifdatum& d : exif) {
            const std::string group = d.groupName();
            const bool main = group == "Image", gps = group == "GPSInfo";
            if (!main && !gps && group != "Photo") continue;
            // A main-directory tag below 32 would come back as a GPS tag.
            if (main && d.tag() < 0x20) continue;
            // A TIFF's XMP and IPTC tags are carried as XMP and IPTC.
            if (main && IsCarriedApart(d.tag())) {
                if (d.tag() == PropertyTagICCProfile) profileTag = ValueBytes(d);
                continue;
            }
            const int type = int(d.typeId());
            if (type < 1 || type > 12) continue;
            const long size = d.size();
            if (size < 0) continue;
            TQelPropertyItem item;
            item.Id = d.tag();
            item.Type = uint16_t(type);
            item.Value.resize(size);
            if (size > 0) {
                const long copied = d.copy(reinterpret_cast<Exiv2::byte*>(item.Value.data()), Exiv2::littleEndian);
                if (copied != size) continue;
            }
            items.append(std::move(item));
        }
        QByteArray profile = profileTag;
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf* icc = image->iccProfile();
            if (icc && icc->pData_ && icc->size_ > 0)
                profile = QByteArray(reinterpret_cast<const char*>(icc->pData_), qsizetype(icc->size_));
        }
        if (!profile.isEmpty()) items.append(TQelPropertyItem{PropertyTagICCProfile, 7, profile});
        QByteArray xmp = QByteArray::fromStdString(image->xmpPacket());
        QByteArray iptc;
        if (!image->iptcData().empty()) {
            const Exiv2::DataBuf encoded = Exiv2::IptcParser::encode(image->iptcData());
            if (encoded.pData_ && encoded.size_ > 0)
                iptc = QByteArray(reinterpret_cast<const char*>(encoded.pData_), qsizetype(encoded.size_));
        }
        Metadata.Items = std::move(items);
        Metadata.Xmp = std::move(xmp);
        Metadata.Iptc = std::move(iptc);
        return true;
    } catch (...) {
        // Exiv2 reports damaged files by throwing; such a file has no items.
        Metadata.Items.clear();
        Metadata.Xmp.clear();
        Metadata.Iptc.clear();
        return false;
    }
}

bool QelWritePropertyItems(QByteArray& FileData, const TQelPropertyItems& Items, QString& Error) {
    TQelImageMetadata metadata;
    metadata.Items = Items;
    return QelWriteImageMetadata(FileData, metadata, Error);
}

bool QelWriteImageMetadata(QByteArray& FileData, const TQelImageMetadata& Metadata, QString& Error) {
    Error.clear();
    QelPrepareImageMetadata();
    try {
        Exiv2::ExifData exif;
        QByteArray profile;
        for (const TQelPropertyItem& item : Metadata.Items) {
            if (item.Id == PropertyTagICCProfile) {
                profile = item.Value;
                continue;
            }
            if (IsLayoutTag(item.Id) || IsCarriedApart(item.Id) || item.Id > 0xffff || item.Type < 1 ||
                item.Type > 12)
                continue;
            try {
                const Exiv2::ExifKey key(uint16_t(item.Id), GroupOf(item.Id));
                auto value = Exiv2::Value::create(Exiv2::TypeId(item.Type));
                if (!value.get() ||
                    value->read(reinterpret_cast<const Exiv2::byte*>(item.Value.constData()), long(item.Value.size()),
                                Exiv2::littleEndian) != 0)
                    continue;
                exif.add(key, value.get());
            } catch (...) {
                // One item the writer cannot take does not cost the others.
            }
        }
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(FileData.constData()),
                                               long(FileData.size()));
        if (!image.get()) {
            Error = QStringLiteral("The image format takes no property items.");
            return false;
        }
        image->readMetadata();
        image->setExifData(exif);
        if (!profile.isEmpty()) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(profile.constData()), long(profile.size()));
            // Carried as the file had it, whether or not it looks valid.
            image->setIccProfile(icc, false);
        }
        if (!Metadata.Xmp.isEmpty()) {
            try {
                // The packet as it was, not as the toolkit would write it.
                image->setXmpPacket(Metadata.Xmp.toStdString());
                image->writeXmpFromPacket(true);
            } catch (...) {
                // A packet that cannot be parsed is left out.
                image->clearXmpPacket();
                image->clearXmpData();
                image->writeXmpFromPacket(false);
            }
        }
        if (!Metadata.Iptc.isEmpty()) {
            Exiv2::IptcData iptc;
            if (Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(Metadata.Iptc.constData()),
                                          uint32_t(Metadata.Iptc.size())) == 0)
                image->setIptcData(iptc);
        }
        image->writeMetadata();

        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0) {
            Error = QStringLiteral("The image with its property items cannot be read back.");
            return false;
        }
        const long size = io.size();
        QByteArray result(size, Qt::Uninitialized);
        io.seek(0, Exiv2::BasicIo::beg);
        const long got = io.read(reinterpret_cast<Exiv2::byte*>(result.data()), size);
        io.close();
        if (size <= 0 || got != size) {
            Error = QStringLiteral("The image with its property items cannot be read back.");
            return false;
        }
        FileData = std::move(result);
        return true;
    } catch (const std::exception& e) {
        Error = QStringLiteral("The property items cannot be written: %1").arg(QString::fromUtf8(e.what()));
        return false;
    } catch (...) {
        Error = QStringLiteral("The property items cannot be written.");
        return false;
    }
}

// --- Orientation ----------------------------------------------------------------

bool QelResetOrientationItem(TQelPropertyItems& Items) {
    bool found = false;
    for (TQelPropertyItem& item : Items) {
        if (item.Id != PropertyTagOrientation) continue;
        item.Type = 3;
        item.Value = QByteArray("\x01\x00", 2);
        found = true;
    }
    return found;
}

bool QelResetXmpOrientation(QByteArray& Packet) {
    static const QByteArray name("tiff:Orientation");
    bool found = false;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (qsizetype at = Packet.indexOf(name); at >= 0; at = Packet.indexOf(name, at + 1)) {
        qsizetype i = at + name.size();
        const qsizetype n = Packet.size();
        while (i < n && isSpace(Packet[i])) ++i;
        if (i >= n) break;
        qsizetype digit = -1;
        if (Packet[i] == '=') {
            // An attribute: tiff:Orientation="6"
            ++i;
            while (i < n && isSpace(Packet[i])) ++i;
            if (i + 2 < n && (Packet[i] == '"' || Packet[i] == '\'') && Packet[i + 2] == Packet[i]) digit = i + 1;
        } else if (Packet[i] == '>') {
            // An element: <tiff:Orientation>6</tiff:Orientation>
            if (i + 2 < n && Packet[i + 2] == '<') digit = i + 1;
        }
        if (digit >= 0 && Packet[digit] >= '1' && Packet[digit] <= '8') {
            Packet[digit] = '1';
            found = true;
        }
    }
    return found;
}

namespace {

uint16_t Read16(const uint8_t* p, bool big) { return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]); }
uint32_t Read32(const uint8_t* p, bool big) {
    return big ? uint32_t(Read16(p, true)) << 16 | Read16(p + 2, true) : uint32_t(Read16(p + 2, false)) << 16 | Read16(p, false);
}

// An APP1 segment body holding EXIF: "Exif", two zeros, a TIFF structure.
bool IsExif(uint8_t Marker, const uint8_t* Body, int64_t BodySize) {
    return Marker == 0xE1 && BodySize >= 6 && std::memcmp(Body, "Exif\0\0", 6) == 0;
}

// Visit(Entry, Big) for each whole 12-byte entry of the main directory of
// the TIFF structure in Data[0, Size); every offset is checked. False when
// there is no such directory.
template <class TVisit>
bool ForEachMainEntry(uint8_t* Data, int64_t Size, TVisit&& Visit) {
    if (Size < 8) return false;
    const bool big = Data[0] == 'M' && Data[1] == 'M';
    if (!big && !(Data[0] == 'I' && Data[1] == 'I')) return false;
    if (Read16(Data + 2, big) != 42) return false;
    const int64_t ifd = Read32(Data + 4, big);
    if (ifd < 8 || ifd + 2 > Size) return false;
    const int64_t count = Read16(Data + ifd, big);
    for (int64_t k = 0; k < count && ifd + 2 + 12 * (k + 1) <= Size; ++k) Visit(Data + ifd + 2 + 12 * k, big);
    return true;
}

// The orientation entry of the main directory set to 1 in place.
bool ResetExifOrientation(uint8_t* Data, int64_t Size) {
    bool found = false;
    ForEachMainEntry(Data, Size, [&](uint8_t* entry, bool big) {
        if (Read16(entry, big) != PropertyTagOrientation || Read16(entry + 2, big) != 3 || Read32(entry + 4, big) != 1)
            return;
        entry[8] = big ? 0 : 1;
        entry[9] = big ? 1 : 0;
        found = true;
    });
    return found;
}

// The values of the main directory's XResolution and YResolution swapped in
// place: each entry's rational lies elsewhere, so their offsets change places.
bool SwapExifResolution(uint8_t* Data, int64_t Size) {
    uint8_t* x = nullptr;
    uint8_t* y = nullptr;
    ForEachMainEntry(Data, Size, [&](uint8_t* entry, bool big) {
        // One RATIONAL each, the only form the tags take.
        if (Read16(entry + 2, big) != 5 || Read32(entry + 4, big) != 1) return;
        if (Read16(entry, big) == PropertyTagXResolution) x = entry;
        if (Read16(entry, big) == PropertyTagYResolution) y = entry;
    });
    if (!x || !y) return false;
    std::swap_ranges(x + 8, x + 12, y + 8);
    return true;
}

}  // namespace

bool QelResetJpegOrientation(QByteArray& Jpeg) {
    static const QByteArray xmpName("http://ns.adobe.com/xap/1.0/", 29);
    auto* d = reinterpret_cast<uint8_t*>(Jpeg.data());
    bool found = false;
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (IsExif(marker, d + body, bodySize)) {
            found = ResetExifOrientation(d + body + 6, bodySize - 6) || found;
        } else if (marker == 0xE1 && bodySize > xmpName.size() &&
                   std::memcmp(d + body, xmpName.constData(), size_t(xmpName.size())) == 0) {
            const qsizetype start = qsizetype(body + xmpName.size());
            QByteArray packet = Jpeg.mid(start, qsizetype(bodySize) - xmpName.size());
            if (QelResetXmpOrientation(packet)) {
                // Same length: the segment stays where and as long as it was.
                d = reinterpret_cast<uint8_t*>(Jpeg.data());
                std::memcpy(d + start, packet.constData(), size_t(packet.size()));
                found = true;
            }
        }
        return true;
    });
    return found;
}

bool QelSwapJpegResolution(QByteArray& Jpeg) {
    auto* d = reinterpret_cast<uint8_t*>(Jpeg.data());
    bool found = false;
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (marker == 0xE0 && bodySize >= 14 && std::memcmp(d + body, "JFIF", 5) == 0) {
            std::swap_ranges(d + body + 8, d + body + 10, d + body + 10);
            found = true;
        } else if (IsExif(marker, d + body, bodySize)) {
            found = SwapExifResolution(d + body + 6, bodySize - 6) || found;
        }
        return true;
    });
    return found;
}

QString QelPropertyItemText(const char* Value, size_t Length) {
    if (!Value) return QString();
    const void* nul = std::memchr(Value, 0, Length);
    const size_t n = nul ? size_t(static_cast<const char*>(nul) - Value) : Length;
    const QByteArray bytes(Value, qsizetype(n));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString QelPropertyText(const TQelPropertyItems& Items, uint32_t Id) {
    for (qsizetype i = Items.size() - 1; i >= 0; --i)
        if (Items[i].Id == Id) return QelPropertyItemText(Items[i].Value.constData(), size_t(Items[i].Value.size()));
    return QString();
}
