// Shared by the format-table tests.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

#include "ImageFileSamples.h"
#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"

// A table whose quality dialog answers from the test and counts its calls.
class TAnsweringFormats : public TQelGraphicsFormats {
public:
    int Asked = 0;
    bool Accept = true;
    int32_t Answer = 80;
    int32_t Offered = -1;

protected:
    bool ExecuteJpegOptions(int32_t& Quality) override {
        ++Asked;
        Offered = Quality;
        if (Accept) Quality = Answer;
        return Accept;
    }
};

// Documents get the program's lossless session while this lives; or, not
// Lossless, none, as without the library.
class TSessionFactory {
public:
    explicit TSessionFactory(bool Lossless = true) : FPrevious(SetJolvexFactory(Lossless ? Session : TJolvexFactory())) {}
    ~TSessionFactory() { SetJolvexFactory(FPrevious); }

private:
    static int32_t Session(std::shared_ptr<IJLVX>& s) { return s = std::make_shared<TJlvxSession>(), JLVX_S_OK; }
    TJolvexFactory FPrevious;
};

// A folder for one test's files and a format table.
class TFormatsTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return Dir.filePath(name); }
    QString Write(const QString& name, const QByteArray& data) const {
        EXPECT_TRUE(samples::WriteFile(Path(name), data));
        return Path(name);
    }
    // Null when the file cannot be loaded.
    std::unique_ptr<TQelGraphicsDocument> Loaded(const QString& path, int32_t& formatId) {
        auto document = std::make_unique<TQelGraphicsDocument>(nullptr);
        formatId = 99;
        if (!Formats.Load(*document, path, formatId)) return nullptr;
        return document;
    }
    // A file that must load.
    std::unique_ptr<TQelGraphicsDocument> Loaded(const QString& path) {
        int32_t id = 0;
        auto document = Loaded(path, id);
        EXPECT_TRUE(document) << Formats.LastError().toStdString();
        return document ? std::move(document) : std::make_unique<TQelGraphicsDocument>(nullptr);
    }

    QTemporaryDir Dir;
    TAnsweringFormats Formats;
};
