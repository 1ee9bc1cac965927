#include "QelFileFormats.h"

#include "QelLocalizer.h"

void TQelFileInfo::GetDescription(QString& Text) const { Text.clear(); }

bool TQelFileFormats::GetFileInfo(const QString&, std::unique_ptr<TQelFileInfo>&) const { return false; }

bool TQelFileFormats::GetThumbnail(const QString&, int32_t, int32_t, std::unique_ptr<TQelThumbnail>&) const {
    return false;
}

void TQelFileFormats::GetSaveFormats(TQelFileFormatArray& Formats) const {
    Formats.clear();
    const int32_t n = Count();
    Formats.reserve(n);
    for (int32_t i = 0; i < n; ++i)
        if (const TQelFileFormatInfo* info = Items(i)) Formats.append(*info);
}

void TQelFileFormats::GetOpenFormats(TQelFileFormatArray& Formats) const {
    GetSaveFormats(Formats);
    QString allMasks;
    for (qsizetype i = 0; i < Formats.size(); ++i) {
        if (i > 0) allMasks += u';';
        allMasks += Formats[i].Masks;
    }
    Formats.append(TQelFileFormatInfo{0, QelText(146), allMasks, QString()});
    Formats.append(TQelFileFormatInfo{0, QelText(147), QStringLiteral("*.*"), QString()});
}

int32_t TQelFileFormats::IndexOfId(int32_t Id) const {
    const int32_t n = Count();
    for (int32_t i = 0; i < n; ++i) {
        const TQelFileFormatInfo* info = Items(i);
        if (info && info->Id == Id) return i;
    }
    return -1;
}

int32_t IndexOfFileFormat(const TQelFileFormatArray& Formats, int32_t Id) {
    for (qsizetype i = 0; i < Formats.size(); ++i)
        if (Formats[i].Id == Id) return int32_t(i);
    return -1;
}

void BuildFileFilter(const TQelFileFormatArray& Formats, QString& Filter) {
    for (const TQelFileFormatInfo& f : Formats) {
        if (!Filter.isEmpty()) Filter += u'|';
        Filter += f.Description + QStringLiteral(" (") + f.Masks + QStringLiteral(")|") + f.Masks;
    }
}

QStringList QelNameFilters(const TQelFileFormatArray& Formats) {
    QStringList result;
    result.reserve(Formats.size());
    for (const TQelFileFormatInfo& f : Formats) {
        const QStringList masks = f.Masks.split(u';', Qt::SkipEmptyParts);
        result.append(f.Description + QStringLiteral(" (") + masks.join(u' ') + u')');
    }
    return result;
}
