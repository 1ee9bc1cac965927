// The graphics editor's table of image file formats: how a graphics document
// is loaded (exchange file, lossless JPEG session, any decoder) and saved
// (session, exchange file, encoder by format with the JPEG quality dialog
// and the property items), and what the open dialog shows of a file.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "QelEditor.h"
#include "QelFileFormats.h"
#include "QelGeometry.h"

class TQelGraphicsDocument;

// Format ids besides the rows: the plug-in's exchange file, and a file some
// decoder read that has no row (a GIF, say). The latter is never taken for
// an exchange file; its save dialog starts on the first row.
constexpr int32_t QelExchangeFormatId = -1;
constexpr int32_t QelOtherFormatId = -2;

class TQelGraphicsFormats : public TQelDocumentFormats {
public:
    TQelGraphicsFormats();

    // JPEG, TIFF, PNG, BMP with the ids 0 to 3.
    int32_t Count() const override;
    const TQelFileFormatInfo* Items(int32_t Index) const override;
    // True when FileName is an existing file; its description is empty when
    // no decoder can read it.
    bool GetFileInfo(const QString& FileName, std::unique_ptr<TQelFileInfo>& Info) const override;
    // The picture fitted into Width x Height; false when it cannot be read.
    // Runs on the open dialog's preview thread.
    bool GetThumbnail(const QString& FileName, int32_t Width, int32_t Height,
                      std::unique_ptr<TQelThumbnail>& Thumbnail) const override;

    // False for a document that is not a graphics document and for a file
    // that no path can read (LastError says why).
    bool Load(TQelDocument& Document, const QString& FileName, int32_t& FormatId) override;
    // Writes the document's work rectangle (the whole image for the
    // exchange file). False when the quality dialog was cancelled or the
    // file could not be written; an old file under FileName then stays.
    bool Save(TQelDocument& Document, const QString& FileName, int32_t FormatId) override;
    // Every document may be saved.
    bool CanSave(int32_t FormatId) override;

    // Why the last Load or Save failed; empty after a success or a cancel.
    QString LastError() const override { return FLastError; }
    // After a Load that read only the first of a TIFF's pages: how many it
    // holds, and that a save writes the first alone.
    QString LoadNotice() const override { return FLoadNotice; }

    // After a save: the parts of the photo's data it had to leave out (that
    // did not fit, or that the writer could not take), for instance "XMP" or
    // "EXIF item 37500"; empty when all of it was written.
    const QStringList& LeftOut() const { return FLeftOut; }

    // 0 to 100; what the quality dialog starts with and last accepted.
    int32_t JpegQuality;

protected:
    // Shows the JPEG quality dialog with Quality; true (and the new quality)
    // when it was accepted.
    virtual bool ExecuteJpegOptions(int32_t& Quality);

private:
    bool Fail(const QString& Text);

    QString FLastError;
    QString FLoadNotice;
    QStringList FLeftOut;
};

// The open dialog's description of a file: format, size, date and camera,
// one per line.
class TQelGraphicsFileInfo : public TQelFileInfo {
public:
    explicit TQelGraphicsFileInfo(const QString& FileName);
    void GetDescription(QString& Text) const override;

    QString Description;
};

// The open dialog's preview picture.
class TQelGraphicsThumbnail : public TQelThumbnail {
public:
    explicit TQelGraphicsThumbnail(const QImage& Image) : FImage(Image) {}
    // The picture at its own size, centred in Bounds.
    void Draw(QPainter& DC, const TQelRect& Bounds, TQelRect& DrawnRect) override;
    const QImage& Image() const { return FImage; }

private:
    QImage FImage;
};

// The exchange file as a document: True when FileName is an exchange file
// and its image became the document's image and original.
bool ReadExchangeFile(const QString& FileName, TQelGraphicsDocument& Document);
// Writes the document's whole current image back into the exchange file.
bool WriteExchangeFile(const QString& FileName, TQelGraphicsDocument& Document);
