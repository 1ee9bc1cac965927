// The tutorial list: every script in the tutorial folder with its title and
// a 64 x 64 thumbnail, in file-name order; Start plays the chosen one.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <memory>
#include <vector>

#include "QelForms.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class TQelDemoScript;
class TQelDemonstrationModule;

class TQelDemonstrationForm : public TQelForm<QDialog> {
public:
    static constexpr int ThumbnailSize = 64;
    // A tutorial's picture is a preview: a file larger than this is no
    // picture of a tutorial, and its item shows the stored picture.
    static constexpr qint64 MaxThumbnailFileSize = 64 * 1024 * 1024;

    TQelDemonstrationForm(TQelDemonstrationModule* Module, QWidget* parent = nullptr);
    ~TQelDemonstrationForm() override;

    // Builds the window, then FormCreate.
    void Create() override;
    void Localize() override;

    // The list filled, the remembered item selected, the check box set.
    void FormCreate();
    // One item per readable script, sorted by file path without regard to
    // case. A file that cannot be read as a script is left out.
    void FillList();
    // The index of the script's thumbnail in DemoImageList: its "Info"
    // "Image" fitted and centred in a framed 64 x 64 square, or 0 (the
    // stored picture) when that file is no picture.
    int AddThumbnail(const TQelDemoScript& Script);

    void DemoListViewChange();
    void DemoListViewDblClick();
    void ShowAtStartupCheckBoxClick();
    // Remembers the selected item's index (-1 when none) in the module.
    void FormClose();

    // The selected item's script; null when none is selected.
    const TQelDemoScript* ChosenScript() const { return FChosenScript; }
    int ItemCount() const;

    QLabel* SelectLabel = nullptr;
    QListWidget* DemoListView = nullptr;
    QCheckBox* ShowAtStartupCheckBox = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* CloseButton = nullptr;
    // Index 0 is the picture of tutorials without a usable one.
    std::vector<QImage> DemoImageList;

protected:
    // Every way of closing passes here, the window's close box included.
    void done(int Result) override;

private:
    TQelDemonstrationModule* FModule;
    // The scripts of the items, by the index each item keeps as its data.
    std::vector<std::unique_ptr<TQelDemoScript>> FScripts;
    const TQelDemoScript* FChosenScript = nullptr;
};

// Picture (already decoded) as the list draws it: fitted and centred in a
// white 64 x 64 square with a one-pixel grey frame.
QImage QelDemoThumbnail(const QImage& Picture);
