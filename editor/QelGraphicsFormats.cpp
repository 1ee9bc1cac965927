#include "QelGraphicsFormats.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "FileMapping.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelHelpers.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "QelJPEGOptions.h"
#include "QelLocalizer.h"
#include "QelParallel.h"

namespace {

const TQelFileFormatInfo FormatRows[] = {
    {0, QStringLiteral("JPEG"), QStringLiteral("*.JPG;*.JPEG"), QStringLiteral(".jpg")},
    {1, QStringLiteral("TIFF"), QStringLiteral("*.TIF;*.TIFF"), QStringLiteral(".tif")},
    {2, QStringLiteral("PNG"), QStringLiteral("*.PNG"), QStringLiteral(".png")},
    {3, QStringLiteral("BMP"), QStringLiteral("*.BMP;*.RLE;*.DIB"), QStringLiteral(".bmp")},
};
constexpr int32_t FormatRowCount = int32_t(sizeof FormatRows / sizeof FormatRows[0]);

int32_t FormatIdOf(TQelImageFileType Type) {
    switch (Type) {
    case TQelImageFileType::Jpeg: return 0;
    case TQelImageFileType::Tiff: return 1;
    case TQelImageFileType::Png: return 2;
    case TQelImageFileType::Bmp: return 3;
    default: return QelOtherFormatId;
    }
}

QString FormatNameOf(TQelImageFileType Type) {
    const int32_t id = FormatIdOf(Type);
    return id >= 0 ? FormatRows[id].Description : QString();
}

// The hourglass while a file is read or written, also when an exception
// leaves early.
class TWaitCursor {
public:
    TWaitCursor() : FShown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (FShown) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TWaitCursor() {
        if (FShown) QGuiApplication::restoreOverrideCursor();
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    bool FShown;
};

// The original image sized like the current one; null without an image or
// without memory.
const TQelPixels* PrepareOriginal(TQelGraphicsDocument& Document) {
    const TQelPixels* image = Document.Image.GetPixels();
    if (!image) return nullptr;
    const TQelPixels* original = Document.OriginalImage.GetPixels();
    if ((!original || original->GetBounds() != image->GetBounds() || original->Format != image->Format) &&
        !Document.OriginalImage.SetSize(image->Width, image->Height, image->Format))
        return nullptr;
    return Document.OriginalImage.GetPixels();
}

void CopyRows(const TQelPixels* From, const TQelPixels* To) {
    const size_t rowBytes = size_t(From->Width) * size_t(From->BytesPerPixel);
    for (int32_t y = 0; y < From->Height; ++y) std::memcpy(To->PixelAddress(0, y), From->PixelAddress(0, y), rowBytes);
}

// The original image as a copy of the current one.
bool CopyToOriginal(TQelGraphicsDocument& Document) {
    const TQelPixels* original = PrepareOriginal(Document);
    if (!original) return false;
    CopyRows(Document.Image.GetPixels(), original);
    return true;
}

// The original image and the backup as copies of the current one, in bands
// of rows over the program's threads: three full-size images pass through
// memory, more than one core can move in good time.
bool CopyToOriginalAndBackup(TQelGraphicsDocument& Document) {
    const TQelPixels* original = PrepareOriginal(Document);
    if (!original) return false;
    const TQelPixels* image = Document.Image.GetPixels();
    TQelPixelBuffer& backup = Document.Backup;
    backup.Allocate(image->Format, image->GetBounds());
    if (!backup.Bits) {
        // Raises the document's own out-of-memory error, or copies after all.
        Document.SyncBackup();
        CopyRows(image, original);
        return true;
    }
    constexpr int32_t BandRows = 64;
    const size_t rowBytes = size_t(image->Width) * size_t(image->BytesPerPixel);
    const int32_t bands = (image->Height + BandRows - 1) / BandRows;
    // A thread for every 4 MiB of rows, as the backup's own copy takes: a
    // small image is copied sooner than threads are started.
    const int64_t bytes = int64_t(image->Stride) * image->Height;
    QelParallelFor(bands, QelParallelThreads(bytes >> 22), [&](int64_t b, int32_t) {
        const int32_t y0 = int32_t(b) * BandRows, y1 = std::min(image->Height, y0 + BandRows);
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t* from = image->PixelAddress(0, y);
            std::memcpy(original->PixelAddress(0, y), from, rowBytes);
            std::memcpy(backup.PixelAddress(0, y), from, rowBytes);
        }
    });
    return true;
}

TExchangeReadResult ReadExchange(const QString& FileName, TQelGraphicsDocument& Document, QString& Error) {
    const TExchangeReadResult result = ReadExchangeImage(
        FileName,
        [&](int32_t Width, int32_t Height) -> TQelPixels* {
            return Document.Image.SetSize(Width, Height, QelFormatBGR24) ? Document.Image.GetPixels() : nullptr;
        },
        Error);
    if (result == TExchangeReadResult::Read && !CopyToOriginal(Document)) {
        Error = QStringLiteral("There is not enough memory for the original image.");
        return TExchangeReadResult::Damaged;
    }
    return result;
}

constexpr int32_t TextMorePages = 1050;

const QString NoMemoryText = QStringLiteral("There is not enough memory for an image of %1 x %2.");

}  // namespace

// --- TQelGraphicsFormats ---------------------------------------------------------

TQelGraphicsFormats::TQelGraphicsFormats() : JpegQuality(80), FLastError(), FLoadNotice(), FLeftOut() {}

int32_t TQelGraphicsFormats::Count() const { return FormatRowCount; }

const TQelFileFormatInfo* TQelGraphicsFormats::Items(int32_t Index) const {
    return Index >= 0 && Index < FormatRowCount ? &FormatRows[Index] : nullptr;
}

bool TQelGraphicsFormats::CanSave(int32_t) { return true; }

bool TQelGraphicsFormats::GetFileInfo(const QString& FileName, std::unique_ptr<TQelFileInfo>& Info) const {
    if (!QFileInfo(FileName).isFile()) return false;
    Info = std::make_unique<TQelGraphicsFileInfo>(FileName);
    return true;
}

bool TQelGraphicsFormats::GetThumbnail(const QString& FileName, int32_t Width, int32_t Height,
                                       std::unique_ptr<TQelThumbnail>& Thumbnail) const {
    if (Width < 1 || Height < 1) return false;
    TQelImageDecoder decoder;
    if (!decoder.Open(FileName)) return false;
    TQelRect fitted;
    FitRectProportional(TQelRect(0, 0, decoder.Width(), decoder.Height()), TQelRect(0, 0, Width, Height), fitted);
    QImage image;
    if (!decoder.DecodeScaled(std::max(1, fitted.Width()), std::max(1, fitted.Height()), image)) return false;
    Thumbnail = std::make_unique<TQelGraphicsThumbnail>(image);
    return true;
}

bool TQelGraphicsFormats::Fail(const QString& Text) {
    FLastError = Text;
    return false;
}

bool TQelGraphicsFormats::Load(TQelDocument& Document, const QString& FileName, int32_t& FormatId) {
    FLastError.clear();
    FLoadNotice.clear();
    auto* document = dynamic_cast<TQelGraphicsDocument*>(&Document);
    if (!document) return Fail(QStringLiteral("The document holds no image."));
    TWaitCursor wait;
    try {
        // 1. The plug-in's exchange file. One that is damaged is refused
        // here: no image decoder reads it either.
        QString error;
        switch (ReadExchange(FileName, *document, error)) {
        case TExchangeReadResult::Read:
            FormatId = QelExchangeFormatId;
            document->ResetChanges(false);
            document->SyncBackup();
            return true;
        case TExchangeReadResult::Damaged:
            return Fail(error);
        case TExchangeReadResult::NotExchange:
            break;
        }

        // 2. The lossless JPEG session; an exception in its open counts as
        // "not open".
        const std::shared_ptr<IJLVX>& session = document->JpegSession;
        bool sessionOpen = false;
        if (session) {
            try {
                sessionOpen = session->Open(FileName) && session->IsOpen();
            } catch (...) {
                sessionOpen = false;
            }
        }
        if (sessionOpen) {
            const int32_t w = session->GetWidth(), h = session->GetHeight();
            TQelPixels* pixels = nullptr;
            if (QelImageSizeAcceptable(w, h) && document->Image.SetSize(w, h, QelFormatBGR24))
                pixels = document->Image.GetPixels();
            const bool decoded = pixels && session->Decode(pixels->Bits, pixels->Stride, 0);
            if (decoded) {
                // Unopened, the decoder gives no metadata and 96 dpi.
                TQelImageDecoder metadata;
                metadata.Open(FileName);
                document->Properties.ReadFromImage(metadata);
                if (!CopyToOriginalAndBackup(*document)) {
                    session->Close();
                    return Fail(NoMemoryText.arg(w).arg(h));
                }
                // The image is the session's decode: later saves compare
                // only what changes from here on.
                document->ResetChanges(true);
                FormatId = 0;
                return true;
            }
            // What the session cannot decode, the decoder below may.
            session->Close();
        }

        // 3. Any decoder, into 24-bit rows.
        TQelImageDecoder decoder;
        if (!decoder.Open(FileName)) return Fail(decoder.LastError());
        const int32_t w = decoder.Width(), h = decoder.Height();
        if (!document->Image.SetSize(w, h, QelFormatBGR24)) return Fail(NoMemoryText.arg(w).arg(h));
        TQelPixels* pixels = document->Image.GetPixels();
        const bool decoded = decoder.Decode(pixels->Bits, pixels->Stride);
        if (!decoded) {
            document->Image.Clear();
            return Fail(decoder.LastError());
        }
        document->Properties.ReadFromImage(decoder);
        document->ResetChanges(false);
        if (!CopyToOriginalAndBackup(*document)) return Fail(NoMemoryText.arg(w).arg(h));
        FormatId = FormatIdOf(decoder.FileType());
        // Only the first page is read, and a save writes it alone: the user
        // hears of it before anything is lost.
        if (decoder.PageCount() > 1)
            FLoadNotice = QelFormatText(QelText(TextMorePages), QString::number(decoder.PageCount()));
        return true;
    } catch (const EQelError& e) {
        return Fail(QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("There is not enough memory to open the file."));
    }
}

bool TQelGraphicsFormats::Save(TQelDocument& Document, const QString& FileName, int32_t FormatId) {
    FLastError.clear();
    FLeftOut.clear();
    auto* document = dynamic_cast<TQelGraphicsDocument*>(&Document);
    if (!document) return Fail(QStringLiteral("The document holds no image."));
    TQelImageFileType type = TQelImageFileType::None;
    switch (FormatId) {
    case 0: type = TQelImageFileType::Jpeg; break;
    case 1: type = TQelImageFileType::Tiff; break;
    case 2: type = TQelImageFileType::Png; break;
    case 3: type = TQelImageFileType::Bmp; break;
    case QelExchangeFormatId: break;
    default: return Fail(QStringLiteral("Images cannot be saved in this format."));
    }
    const bool throughSession = FormatId == 0 && document->JpegSession && document->JpegSession->IsOpen();
    if (FormatId == 0 && !throughSession) {
        int32_t quality = JpegQuality;
        if (!ExecuteJpegOptions(quality)) return false;
        JpegQuality = std::clamp(quality, 0, 100);
    }
    TWaitCursor wait;
    try {
        document->BeforeSave();
        const TQelPixels* pixels = document->GetPixels();
        if (!pixels || !pixels->Bits) return Fail(QStringLiteral("There is no image to save."));
        TQelRect r = document->GetWorkRect();
        QelIntersectRect(r, r, pixels->GetBounds());
        if (r.IsEmpty()) return Fail(QStringLiteral("There is no image to save."));

        if (throughSession) {
            IJLVX& session = *document->JpegSession;
            // A refused region would leave the session writing another size
            // than the rows handed to it.
            if (!session.SetRegion(r.Left, r.Top, r.Right, r.Bottom))
                return Fail(QStringLiteral("The JPEG session cannot write this part of the image."));
            TJlvxSaveOptions options;
            const uint32_t blocks = session.GetBlockSizes();
            options.BlockSize = int32_t(std::max(blocks & 0xFFFFu, blocks >> 16));
            options.Pixels = pixels->PixelAddress(r.Left, r.Top);
            options.Stride = pixels->Stride;
            std::vector<TQelRect> changed;
            if (document->GetChangedRects(changed)) options.Changed = &changed;
            // A failed save keeps the session, so that a retry is lossless
            // again; after a written one, later saves go through the encoder
            // and ask for the quality.
            if (!session.Save(FileName, options)) {
                const QString why = session.LastError();
                return Fail(why.isEmpty() ? QStringLiteral("The JPEG file \"%1\" could not be written.").arg(FileName)
                                          : why);
            }
            session.Close();
            return true;
        }
        if (FormatId == QelExchangeFormatId) {
            QString error;
            return WriteExchangeImage(FileName, *pixels, error) ? true : Fail(error);
        }
        document->Properties.RemoveThumbnailTags();
        TQelImageMetadata metadata;
        document->Properties.WriteToImage(metadata);
        QString error;
        if (!QelSaveImage(FileName, type, pixels->PixelAddress(r.Left, r.Top), r.Width(), r.Height(), pixels->Stride,
                          JpegQuality, metadata, error, &FLeftOut))
            return Fail(error);
        return true;
    } catch (const EQelError& e) {
        return Fail(QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("There is not enough memory to save the file."));
    }
}

bool TQelGraphicsFormats::ExecuteJpegOptions(int32_t& Quality) {
    TQelApplication* app = TQelApplication::Instance();
    std::unique_ptr<TQelJPEGOptionsForm> form(QelCreateForm<TQelJPEGOptionsForm>(app ? app->MainForm() : nullptr));
    form->SetQuality(Quality);
    if (form->exec() != QDialog::Accepted) return false;
    Quality = form->GetQuality();
    return true;
}

// --- File description and thumbnail -------------------------------------------------

TQelGraphicsFileInfo::TQelGraphicsFileInfo(const QString& NewFileName) : TQelFileInfo(NewFileName), Description() {
    TQelImageDecoder decoder;
    if (!decoder.Open(NewFileName)) return;
    TQelPropertyItems items;
    decoder.ReadPropertyItems(items);
    const QString format = FormatNameOf(decoder.FileType());
    if (!format.isEmpty()) Description = QelText(215) + QStringLiteral(": ") + format;
    auto addLine = [this](int32_t caption, const QString& value) {
        if (!value.isEmpty()) Description += u'\n' + QelText(caption) + QStringLiteral(": ") + value;
    };
    addLine(504, QStringLiteral("%1 x %2").arg(decoder.Width()).arg(decoder.Height()));
    addLine(519, QelPropertyText(items, PropertyTagDateTime));
    const QString make = QelPropertyText(items, PropertyTagMake);
    addLine(518, make + (make.isEmpty() ? QString() : QStringLiteral(" ")) + QelPropertyText(items, PropertyTagModel));
}

void TQelGraphicsFileInfo::GetDescription(QString& Text) const { Text = Description; }

void TQelGraphicsThumbnail::Draw(QPainter& DC, const TQelRect& Bounds, TQelRect& DrawnRect) {
    CenterRectIn(TQelRect(0, 0, FImage.width(), FImage.height()), Bounds, DrawnRect);
    DC.drawImage(QPoint(DrawnRect.Left, DrawnRect.Top), FImage);
}

// --- Exchange file -------------------------------------------------------------------

bool ReadExchangeFile(const QString& FileName, TQelGraphicsDocument& Document) {
    QString error;
    return ReadExchange(FileName, Document, error) == TExchangeReadResult::Read;
}

bool WriteExchangeFile(const QString& FileName, TQelGraphicsDocument& Document) {
    const TQelPixels* pixels = Document.GetPixels();
    QString error;
    return pixels && WriteExchangeImage(FileName, *pixels, error);
}
