// What the tutorial module's tests share: a pointer that only remembers
// where it was put, a document editor that logs what it is asked, and a
// file writer.
#pragma once

#include <QFile>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <vector>

#include "QelDemonstration.h"
#include "QelModule.h"
#include "QelMouseSynth.h"

class TFakeSynth : public IQelMouseSynth {
public:
    QPoint GetPos() override { return Pos; }
    void SetPos(const QPoint& p) override { Pos = p; }
    void Button(Qt::MouseButton, bool) override {}
    QPoint Pos;
};

struct TFakeDocument {
    QString Name;
    bool Clean = true;
    bool Exchange = false;
};

// The document editor as the tutorial module sees it.
class TFakeHost : public TQelModule, public IQelDemoDocumentHost {
public:
    bool DemoHasDocument() const override { return !Documents.empty(); }
    bool DemoActiveDocumentClean() const override { return Documents.back().Clean; }
    bool DemoCloseActiveDocument() override {
        Log << "close " + Documents.back().Name;
        if (!Documents.back().Clean && !AgreeToClose) return false;
        Documents.pop_back();
        return true;
    }
    bool DemoPluginMode() const override { return PluginMode; }
    bool DemoActivePluginDocument(QString& FileName) const override {
        if (!PluginMode || !Documents.back().Exchange) return false;
        FileName = Documents.back().Name;
        return true;
    }
    bool DemoSaveActiveDocument() override {
        Log << "save " + Documents.back().Name;
        if (!SaveWorks) return false;
        Documents.back().Clean = true;
        return true;
    }
    bool DemoOpenDocument(const QString& FileName) override {
        Log << "open " + FileName;
        Documents.clear();
        Documents.push_back({FileName, true, true});
        return true;
    }

    std::vector<TFakeDocument> Documents;
    bool PluginMode = false;
    bool AgreeToClose = true;
    bool SaveWorks = true;
    QStringList Log;
};

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
