#include "QelImageMetadata.h"

#include <QCryptographicHash>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <exiv2/exiv2.hpp>

#include "QelFormatMetadata.h"

namespace {

// Exiv2 sets up its XMP toolkit lazily, which is not safe when two threads
// read metadata at once (the open dialog's preview thread does); and its
// warnings about odd files would go to the terminal. So it is set up
// here, once, by every reader and writer.
void QelPrepareImageMetadata() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        // The namespace of the note that names a JPEG's extended XMP.
        Exiv2::XmpProperties::registerNs("http://ns.adobe.com/xmp/note/", "xmpNote");
    });
}

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


enum class TContainer { Other, Jpeg, Png, Tiff };

TContainer ContainerOf(const QByteArray& Data) {
    const auto* b = reinterpret_cast<const uint8_t*>(Data.constData());
    const qsizetype n = Data.size();
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return TContainer::Jpeg;
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return TContainer::Png;
    if (n >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0)) return TContainer::Tiff;
    return TContainer::Other;
}

// --- XMP beyond one JPEG segment ---------------------------------------------------

const char* const ExtensionNote = "Xmp.xmpNote.HasExtendedXMP";
// The longest packet a JPEG's XMP segment holds: 65535 bytes less the
// length field and the signature.
constexpr size_t MaxJpegXmp = 65535 - 2 - 29;

// The packet with the extended XMP its note names merged into it, and
// without the note; the note alone goes when the extension is not there.
// A packet without a note, or one that cannot be read, stays as it is.
QByteArray WithExtension(const QByteArray& Packet, const QByteArray& Jpeg) {
    if (!Packet.contains("HasExtendedXMP")) return Packet;
    try {
        Exiv2::XmpData main;
        if (Exiv2::XmpParser::decode(main, Packet.toStdString()) != 0) return Packet;
        const auto note = main.findKey(Exiv2::XmpKey(ExtensionNote));
        if (note == main.end()) return Packet;
        const QByteArray extension = QelReadJpegXmpExtension(Jpeg, QByteArray::fromStdString(note->toString()));
        main.erase(note);
        Exiv2::XmpData more;
        if (!extension.isEmpty() && Exiv2::XmpParser::decode(more, extension.toStdString()) == 0) {
            std::set<std::string> keys;
            for (const Exiv2::Xmpdatum& d : main) keys.insert(d.key());
            for (const Exiv2::Xmpdatum& d : more)
                if (!keys.count(d.key())) main.add(d);
        }
        std::string merged;
        if (Exiv2::XmpParser::encode(merged, main) != 0) return Packet;
        return QByteArray::fromStdString(merged);
    } catch (...) {
        return Packet;
    }
}

// Splits a packet too long for a JPEG segment as extended XMP: its largest
// top-level properties move into Extension until the rest, with a note
// naming Extension by its digest, fits. False when it cannot be read or
// never fits.
bool SplitXmp(std::string& Packet, QByteArray& Extension, QByteArray& Guid) {
    Exiv2::XmpData data;
    if (Exiv2::XmpParser::decode(data, Packet) != 0) return false;
    const auto stale = data.findKey(Exiv2::XmpKey(ExtensionNote));
    if (stale != data.end()) data.erase(stale);
    // Each top-level property with every item and field under it.
    struct TProperty {
        size_t Size = 0;
        std::vector<size_t> Members;
    };
    std::map<std::string, TProperty> byName;
    size_t index = 0;
    for (const Exiv2::Xmpdatum& d : data) {
        const std::string tag = d.tagName();
        TProperty& p = byName[d.groupName() + ":" + tag.substr(0, tag.find_first_of("[/"))];
        p.Size += d.key().size() + size_t(std::max(0L, d.size()));
        p.Members.push_back(index++);
    }
    std::vector<TProperty> largest;
    for (auto& entry : byName) largest.push_back(std::move(entry.second));
    std::stable_sort(largest.begin(), largest.end(),
                     [](const TProperty& a, const TProperty& b) { return a.Size > b.Size; });
    std::vector<bool> moved(index, false);
    auto part = [&](bool extension, const std::string& note) {
        Exiv2::XmpData out;
        size_t k = 0;
        for (const Exiv2::Xmpdatum& d : data)
            if (moved[k++] == extension) out.add(d);
        if (!extension && !note.empty()) out[ExtensionNote] = note;
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, out,
                                     extension ? Exiv2::XmpParser::omitPacketWrapper | Exiv2::XmpParser::useCompactFormat
                                               : Exiv2::XmpParser::useCompactFormat) != 0)
            throw Exiv2::Error(Exiv2::kerErrorMessage, "The XMP cannot be written.");
        return packet;
    };
    const std::string placeholder(32, '0');  // as long as the digest
    // Written afresh, a packet may fit as it is (its padding gone).
    std::string main = part(false, std::string());
    size_t next = 0;
    if (main.size() <= MaxJpegXmp) {
        Packet = main;
        return true;
    }
    for (main = part(false, placeholder); main.size() > MaxJpegXmp && next < largest.size(); ++next) {
        for (size_t m : largest[next].Members) moved[m] = true;
        main = part(false, placeholder);
    }
    if (main.size() > MaxJpegXmp) return false;
    const std::string extension = part(true, std::string());
    Extension = QByteArray::fromStdString(extension);
    Guid = QCryptographicHash::hash(Extension, QCryptographicHash::Md5).toHex().toUpper();
    Packet = part(false, Guid.toStdString());
    return true;
}

// --- EXIF --------------------------------------------------------------------------

// The longest EXIF structure a JPEG's segment holds: 65535 bytes less the
// length field and "Exif\0\0".
constexpr size_t MaxJpegExif = 65535 - 2 - 6;

Exiv2::ExifData ExifOf(const TQelPropertyItems& Items, QByteArray& Profile) {
    Exiv2::ExifData exif;
    for (const TQelPropertyItem& item : Items) {
        if (item.Id == PropertyTagICCProfile) {
            Profile = item.Value;
            continue;
        }
        if (IsLayoutTag(item.Id) || IsCarriedApart(item.Id) || item.Id > 0xffff || item.Type < 1 || item.Type > 12)
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
    return exif;
}

QString ExifItemName(const Exiv2::Exifdatum& Datum) { return QStringLiteral("EXIF item %1").arg(Datum.tag()); }

// The items the EXIF encoder leaves out of Exif, and the size of what it
// makes: beyond one JPEG segment it drops large items without a word, and
// it drops those it cannot encode.
std::vector<const Exiv2::Exifdatum*> Unencoded(const Exiv2::ExifData& Exif, size_t& Size) {
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, Exif);
    Size = blob.size();
    Exiv2::ExifData back;
    if (!blob.empty()) Exiv2::ExifParser::decode(back, blob.data(), uint32_t(blob.size()));
    std::set<std::string> keys;
    for (const Exiv2::Exifdatum& d : back) keys.insert(d.key());
    std::vector<const Exiv2::Exifdatum*> missing;
    for (const Exiv2::Exifdatum& d : Exif)
        if (!keys.count(d.key())) missing.push_back(&d);
    return missing;
}

void EraseLargest(Exiv2::ExifData& Exif, QStringList& LeftOut) {
    auto largest = Exif.begin();
    for (auto i = Exif.begin(); i != Exif.end(); ++i)
        if (i->size() > largest->size()) largest = i;
    LeftOut << ExifItemName(*largest);
    Exif.erase(largest);
}

// Leaves out the largest items until the rest fits one JPEG segment.
void FitJpegExif(Exiv2::ExifData& Exif, QStringList& LeftOut) {
    // A first guess from the sizes, so that thousands of small items do not
    // cost an encoding each: a directory entry each, the values beyond four
    // bytes, three directories and their links.
    auto estimate = [&Exif] {
        size_t size = 8 + 3 * 6 + 2 * 12;
        for (const Exiv2::Exifdatum& d : Exif) size += 12 + (d.size() > 4 ? (size_t(d.size()) + 1) & ~size_t(1) : 0);
        return size;
    };
    while (!Exif.empty() && estimate() > MaxJpegExif) EraseLargest(Exif, LeftOut);
    for (;;) {
        size_t size = 0;
        const auto missing = Unencoded(Exif, size);
        if (size <= MaxJpegExif || Exif.empty()) {
            for (const Exiv2::Exifdatum* d : missing) LeftOut << ExifItemName(*d);
            return;
        }
        EraseLargest(Exif, LeftOut);
    }
}

// --- Writing -----------------------------------------------------------------------

enum TPart : unsigned { PartExif = 1, PartProfile = 2, PartXmp = 4, PartIptc = 8 };

QString PartName(TPart Part) {
    switch (Part) {
    case PartExif: return QStringLiteral("EXIF");
    case PartProfile: return QStringLiteral("colour profile");
    case PartXmp: return QStringLiteral("XMP");
    default: return QStringLiteral("IPTC");
    }
}

QByteArray Contents(Exiv2::BasicIo& Io) {
    if (Io.open() != 0) throw Exiv2::Error(Exiv2::kerErrorMessage, "The image cannot be read back.");
    const long size = Io.size();
    QByteArray result(std::max(size, 0L), Qt::Uninitialized);
    Io.seek(0, Exiv2::BasicIo::beg);
    const long got = size > 0 ? Io.read(reinterpret_cast<Exiv2::byte*>(result.data()), size) : 0;
    Io.close();
    if (size <= 0 || got != size) throw Exiv2::Error(Exiv2::kerErrorMessage, "The image cannot be read back.");
    return result;
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
    Metadata.Texts.clear();
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
        if (profile.isEmpty()) profile = QelReadBmpProfile(FileData);
        if (!profile.isEmpty()) items.append(TQelPropertyItem{PropertyTagICCProfile, 7, profile});
        QByteArray xmp = QByteArray::fromStdString(image->xmpPacket());
        QByteArray iptc;
        if (!image->iptcData().empty()) {
            const Exiv2::DataBuf encoded = Exiv2::IptcParser::encode(image->iptcData());
            if (encoded.pData_ && encoded.size_ > 0)
                iptc = QByteArray(reinterpret_cast<const char*>(encoded.pData_), qsizetype(encoded.size_));
        }
        const TContainer container = ContainerOf(FileData);
        Metadata.Items = std::move(items);
        Metadata.Xmp = WithExtension(xmp, container == TContainer::Jpeg ? FileData : QByteArray());
        Metadata.Iptc = std::move(iptc);
        if (container == TContainer::Jpeg) Metadata.Texts = QelReadJpegComments(FileData);
        if (container == TContainer::Png) Metadata.Texts = QelReadPngTexts(FileData);
        return true;
    } catch (...) {
        // Exiv2 reports damaged files by throwing; such a file has no items.
        Metadata.Items.clear();
        Metadata.Xmp.clear();
        Metadata.Iptc.clear();
        Metadata.Texts.clear();
        return false;
    }
}

bool QelWritePropertyItems(QByteArray& FileData, const TQelPropertyItems& Items, QString& Error) {
    TQelImageMetadata metadata;
    metadata.Items = Items;
    return QelWriteImageMetadata(FileData, metadata, Error);
}

bool QelWriteImageMetadata(QByteArray& FileData, const TQelImageMetadata& Metadata, QString& Error,
                           QStringList* LeftOut) {
    Error.clear();
    QelPrepareImageMetadata();
    QStringList leftOut;
    const TContainer container = ContainerOf(FileData);
    QByteArray profile, extension, guid;
    Exiv2::ExifData exif;
    std::string xmp;
    Exiv2::IptcData iptc;
    unsigned parts = 0;
    try {
        exif = ExifOf(Metadata.Items, profile);
        if (container == TContainer::Jpeg) {
            FitJpegExif(exif, leftOut);
        } else if (container == TContainer::Png) {
            size_t size = 0;
            for (const Exiv2::Exifdatum* d : Unencoded(exif, size)) leftOut << ExifItemName(*d);
        }
        xmp = Metadata.Xmp.toStdString();
        if (!xmp.empty()) {
            // A packet the toolkit cannot parse is left out.
            Exiv2::XmpData check;
            if (Exiv2::XmpParser::decode(check, xmp) != 0 ||
                (container == TContainer::Jpeg && xmp.size() > MaxJpegXmp && !SplitXmp(xmp, extension, guid))) {
                leftOut << PartName(PartXmp);
                xmp.clear();
            }
        }
        if (!Metadata.Iptc.isEmpty() &&
            Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(Metadata.Iptc.constData()),
                                      uint32_t(Metadata.Iptc.size())) != 0) {
            leftOut << PartName(PartIptc);
            iptc.clear();
        }
        parts = (exif.empty() ? 0u : PartExif) | (profile.isEmpty() ? 0u : PartProfile) |
                (xmp.empty() ? 0u : PartXmp) | (iptc.empty() ? 0u : PartIptc);
    } catch (...) {
        if (LeftOut) *LeftOut << leftOut;
        Error = QStringLiteral("The property items cannot be written.");
        return false;
    }

    auto write = [&](unsigned with) {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(FileData.constData()),
                                               long(FileData.size()));
        if (!image.get()) throw Exiv2::Error(Exiv2::kerErrorMessage, "The image format takes no property items.");
        image->readMetadata();
        image->setExifData(with & PartExif ? exif : Exiv2::ExifData());
        if (with & PartProfile) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(profile.constData()), long(profile.size()));
            // Carried as the file had it, whether or not it looks valid.
            image->setIccProfile(icc, false);
        }
        if (with & PartXmp) {
            // The packet as it was, not as the toolkit would write it.
            image->setXmpPacket(xmp);
            image->writeXmpFromPacket(true);
        }
        if (with & PartIptc) image->setIptcData(iptc);
        image->writeMetadata();
        return Contents(image->io());
    };
    QByteArray written;
    unsigned dropped = 0;
    try {
        written = write(parts);
    } catch (...) {
        // The part the writer cannot take is left out and the rest written;
        // when no single one is to blame, nothing is.
        for (TPart part : {PartXmp, PartExif, PartIptc, PartProfile}) {
            if (!(parts & part)) continue;
            try {
                written = write(parts & ~part);
                dropped = part;
                break;
            } catch (...) {
            }
        }
        if (!dropped) {
            for (TPart part : {PartExif, PartProfile, PartXmp, PartIptc})
                if (parts & part) leftOut << PartName(part);
            if (LeftOut) *LeftOut << leftOut;
            Error = container == TContainer::Other ? QStringLiteral("The image format takes no property items.")
                                                   : QStringLiteral("The property items cannot be written.");
            return false;
        }
        leftOut << PartName(TPart(dropped));
    }
    try {
        if (container == TContainer::Jpeg) {
            QelAddJpegSegments(written, guid, dropped == PartXmp ? QByteArray() : extension, Metadata.Texts, leftOut);
        } else if (container == TContainer::Png) {
            Exiv2::Blob tiff;
            if ((parts & ~dropped) & PartExif) Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, exif);
            QelAddPngChunks(written, (parts & ~dropped) & PartProfile ? QelIccProfileName(profile) : QByteArray(),
                            QByteArray(reinterpret_cast<const char*>(tiff.data()), qsizetype(tiff.size())),
                            Metadata.Texts, leftOut);
        }
    } catch (...) {
        if (LeftOut) *LeftOut << leftOut;
        Error = QStringLiteral("The property items cannot be written.");
        return false;
    }
    FileData = std::move(written);
    if (LeftOut) *LeftOut << leftOut;
    return true;
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

void Write16(uint8_t* p, uint32_t v, bool big) {
    p[big ? 0 : 1] = uint8_t(v >> 8);
    p[big ? 1 : 0] = uint8_t(v);
}
void Write32(uint8_t* p, uint32_t v, bool big) {
    Write16(p + (big ? 0 : 2), v >> 16, big);
    Write16(p + (big ? 2 : 0), v & 0xFFFF, big);
}

// The byte order and the main directory's offset of the TIFF structure in
// Data[0, Size); false when it has none.
bool TiffHeader(const uint8_t* Data, int64_t Size, bool& Big, int64_t& Main) {
    if (Size < 8) return false;
    Big = Data[0] == 'M' && Data[1] == 'M';
    if (!Big && !(Data[0] == 'I' && Data[1] == 'I')) return false;
    if (Read16(Data + 2, Big) != 42) return false;
    Main = Read32(Data + 4, Big);
    return Main >= 8 && Main + 2 <= Size;
}

// Visit(Entry) for each whole 12-byte entry of the directory at Ifd; every
// offset is checked. The offset of the directory's link to the next one,
// or -1 when it lies outside the data.
template <class TVisit>
int64_t ForEachEntry(uint8_t* Data, int64_t Size, bool Big, int64_t Ifd, TVisit&& Visit) {
    if (Ifd < 8 || Ifd + 2 > Size) return -1;
    const int64_t count = Read16(Data + Ifd, Big);
    for (int64_t k = 0; k < count && Ifd + 2 + 12 * (k + 1) <= Size; ++k) Visit(Data + Ifd + 2 + 12 * k);
    const int64_t link = Ifd + 2 + 12 * count;
    return link + 4 <= Size ? link : -1;
}

// Visit(Entry, Big) for each entry of the main directory; false when there
// is no such directory.
template <class TVisit>
bool ForEachMainEntry(uint8_t* Data, int64_t Size, TVisit&& Visit) {
    bool big = false;
    int64_t ifd = 0;
    if (!TiffHeader(Data, Size, big, ifd)) return false;
    ForEachEntry(Data, Size, big, ifd, [&](uint8_t* entry) { Visit(entry, big); });
    return true;
}

// A single SHORT or LONG entry's value.
bool SingleInteger(const uint8_t* Entry, bool Big) {
    const uint16_t type = Read16(Entry + 2, Big);
    return (type == 3 || type == 4) && Read32(Entry + 4, Big) == 1;
}

bool SetExifDimensions(uint8_t* Data, int64_t Size, uint32_t Width, uint32_t Height) {
    int64_t exifIfd = -1;
    bool big = false;
    ForEachMainEntry(Data, Size, [&](uint8_t* entry, bool b) {
        big = b;
        if (Read16(entry, b) == 34665 && Read32(entry + 4, b) == 1) exifIfd = Read32(entry + 8, b);
    });
    bool found = false;
    ForEachEntry(Data, Size, big, exifIfd, [&](uint8_t* entry) {
        const uint16_t tag = Read16(entry, big);
        if ((tag != PropertyTagPixelXDimension && tag != PropertyTagPixelYDimension) || !SingleInteger(entry, big))
            return;
        const uint32_t value = tag == PropertyTagPixelXDimension ? Width : Height;
        if (Read16(entry + 2, big) == 3) {
            if (value > 0xFFFF) return;
            Write16(entry + 8, value, big);
            Write16(entry + 10, 0, big);
        } else {
            Write32(entry + 8, value, big);
        }
        found = true;
    });
    return found;
}

// The second directory (the thumbnail's) unlinked from the main one, and
// its entries and the thumbnail's bytes cleared, so that no reader finds
// the old picture.
bool RemoveThumbnail(uint8_t* Data, int64_t Size) {
    bool big = false;
    int64_t main = 0;
    if (!TiffHeader(Data, Size, big, main)) return false;
    const int64_t link = ForEachEntry(Data, Size, big, main, [](uint8_t*) {});
    if (link < 0) return false;
    const int64_t ifd = Read32(Data + link, big);
    if (ifd == 0) return false;
    Write32(Data + link, 0, big);
    int64_t start = -1, length = -1;
    const int64_t end = ForEachEntry(Data, Size, big, ifd, [&](uint8_t* entry) {
        if (!SingleInteger(entry, big)) return;
        if (Read16(entry, big) == 513) start = Read32(entry + 8, big);
        if (Read16(entry, big) == 514) length = Read32(entry + 8, big);
    });
    if (start >= 8 && length > 0 && start < Size && length <= Size - start)
        std::memset(Data + start, 0, size_t(length));
    if (end >= 0) std::memset(Data + ifd, 0, size_t(end + 4 - ifd));
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

// Change(Tiff, Size) on the TIFF structure of each EXIF segment of the
// JPEG; whether any of them answered true.
template <class TChange>
bool ChangeJpegExif(QByteArray& Jpeg, TChange&& Change) {
    auto* d = reinterpret_cast<uint8_t*>(Jpeg.data());
    bool found = false;
    QelForEachJpegSegment(d, Jpeg.size(), [&](uint8_t marker, int64_t body, int64_t bodySize) {
        if (IsExif(marker, d + body, bodySize)) found = Change(d + body + 6, bodySize - 6) || found;
        return true;
    });
    return found;
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

bool QelSetJpegExifDimensions(QByteArray& Jpeg, int32_t Width, int32_t Height) {
    if (Width < 1 || Height < 1) return false;
    return ChangeJpegExif(Jpeg, [&](uint8_t* tiff, int64_t size) {
        return SetExifDimensions(tiff, size, uint32_t(Width), uint32_t(Height));
    });
}

bool QelRemoveJpegThumbnail(QByteArray& Jpeg) { return ChangeJpegExif(Jpeg, RemoveThumbnail); }

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
