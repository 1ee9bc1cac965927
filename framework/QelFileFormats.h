// The abstract file-format list behind the open and save dialogs, the file
// description and the preview picture those dialogs show.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "QelGeometry.h"

class QPainter;

// One row of a format table. Id is 0 for the two summary rows of the open
// dialog; Masks are wildcard masks joined by ";".
struct TQelFileFormatInfo {
    int32_t Id = 0;
    QString Description;
    QString Masks;
    QString Extra;  // the concrete table's own; the editor takes it as the row's default extension (".jpg")
};

using TQelFileFormatArray = QList<TQelFileFormatInfo>;

// What the open dialog shows about a file.
class TQelFileInfo {
public:
    explicit TQelFileInfo(const QString& NewFileName) : FileName(NewFileName) {}
    virtual ~TQelFileInfo() = default;

    // Empty in the base.
    virtual void GetDescription(QString& Text) const;

    QString FileName;
};

// A preview picture.
class TQelThumbnail {
public:
    virtual ~TQelThumbnail() = default;
    // Paints the preview inside Bounds and returns the rectangle it covered.
    virtual void Draw(QPainter& DC, const TQelRect& Bounds, TQelRect& DrawnRect) = 0;
};

class TQelFileFormats {
public:
    virtual ~TQelFileFormats() = default;

    virtual int32_t Count() const = 0;
    // nullptr outside the table.
    virtual const TQelFileFormatInfo* Items(int32_t Index) const = 0;
    // False in the base: no description could be made.
    virtual bool GetFileInfo(const QString& FileName, std::unique_ptr<TQelFileInfo>& Info) const;
    // False in the base. May be called from the dialog's preview thread.
    virtual bool GetThumbnail(const QString& FileName, int32_t Width, int32_t Height,
                              std::unique_ptr<TQelThumbnail>& Thumbnail) const;
    // Every row, in table order.
    virtual void GetSaveFormats(TQelFileFormatArray& Formats) const;
    // Every row, then "all supported" (text 146, every mask) and "all files"
    // (text 147, "*.*"), both with Id 0.
    virtual void GetOpenFormats(TQelFileFormatArray& Formats) const;

    // The first row with this Id; -1 when none.
    int32_t IndexOfId(int32_t Id) const;
};

// The first record with this Id; -1 when none.
int32_t IndexOfFileFormat(const TQelFileFormatArray& Formats, int32_t Id);

// Appends "Description (Masks)|Masks" per record, "|" between entries and
// before the first when Filter is not empty. An empty array changes nothing.
void BuildFileFilter(const TQelFileFormatArray& Formats, QString& Filter);

// The same rows as Qt file-dialog name filters, "Description (m1 m2)": Qt
// separates patterns by blanks, not by ";".
QStringList QelNameFilters(const TQelFileFormatArray& Formats);
