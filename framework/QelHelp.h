// The Help menu's items and the way to the program's help at a topic.
#pragma once

#include <QString>

#include <cstdint>

#include "QelModule.h"

class QAction;

class TQelHelp : public TQelModule {
    Q_OBJECT
public:
    TQelHelp();
    ~TQelHelp() override;

    // Chooses the help file and builds the menu items.
    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void Initialize() override;

    // A ".chm" file (in any case) selects HTML help and clears the
    // application's help file; any other file becomes it.
    void SetHelpFile(const QString& FileName);
    const QString& HelpFile() const { return FHelpFile; }
    bool HtmlHelp() const { return FHtmlHelp; }

    virtual void CreateMenuItems();
    void ShowTopic(int32_t Topic);
    void ShowGettingStarted();

    QAction* ContentsMenuItem = nullptr;
    QAction* ContentsMenuSeparator = nullptr;
    QAction* GettingStartedMenuItem = nullptr;
    QAction* TechnicalSupportMenuItem = nullptr;
    QAction* HelpMenuSeparator = nullptr;
    QAction* OrderingInformationMenuItem = nullptr;

    // Shown once after start when set, then cleared.
    bool ShowGettingStartedFlag = false;

private:
    QString FHelpFile;
    bool FHtmlHelp = false;
};
