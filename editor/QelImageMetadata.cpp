#include "QelImageMetadata.h"

#include <QStringDecoder>

#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include <exiv2/exiv2.hpp>

namespace {

// Exiv2 sets up its XMP toolkit lazily, which is not safe when two threads
// read metadata at once (the open dialog's preview thread does); and its
// warnings about odd files would go to the terminal.
void InitExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
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
    Items.clear();
    if (FileData.isEmpty()) return false;
    InitExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(FileData.constData()),
                                               long(FileData.size()));
        if (!image.get()) return false;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        TQelPropertyItems items;
        for (const Exiv2::Exifdatum& d : exif) {
            const std::string group = d.groupName();
            const bool main = group == "Image", gps = group == "GPSInfo";
            if (!main && !gps && group != "Photo") continue;
            // A main-directory tag below 32 would come back as a GPS tag.
            if (main && d.tag() < 0x20) continue;
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
        Items = std::move(items);
        return true;
    } catch (...) {
        // Exiv2 reports damaged files by throwing; such a file has no items.
        Items.clear();
        return false;
    }
}

bool QelWritePropertyItems(QByteArray& FileData, const TQelPropertyItems& Items, QString& Error) {
    Error.clear();
    InitExiv2();
    try {
        Exiv2::ExifData exif;
        for (const TQelPropertyItem& item : Items) {
            if (IsLayoutTag(item.Id) || item.Id > 0xffff || item.Type < 1 || item.Type > 12) continue;
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
