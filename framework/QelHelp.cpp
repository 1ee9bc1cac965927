#include "QelHelp.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>

#include "QelHelpViewer.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelPaths.h"

namespace {

constexpr TQelGuid HelpSettingsGuid = TQelGuid::Parse("{3F084D7D-FB21-44A5-BA4F-B6FF3AE0B41D}");
constexpr uint32_t HelpNodeId = 1;
constexpr uint32_t ShowGettingStartedElement = 1;

constexpr int32_t TextContents = 128;
constexpr int32_t TextGettingStarted = 165;
constexpr int32_t TextTechnicalSupport = 131;
constexpr int32_t TextOrderingInformation = 130;

constexpr int32_t TopicContents = 0;
constexpr int32_t TopicGettingStarted = 20;
constexpr int32_t TopicTechnicalSupport = 30;
constexpr int32_t TopicOrderingInformation = 40;

// The program's path with another extension (the program file has none here).
QString ProgramPathWith(const QString& Extension) {
    return QelProgramDir() + QLatin1Char('/') + QFileInfo(QelProgramFilePath()).completeBaseName() + Extension;
}

}  // namespace

TQelHelp::TQelHelp() : TQelModule() {}

TQelHelp::~TQelHelp() {
    // Classic help closes its window with the program.
    if (!FHtmlHelp && !FHelpFile.isEmpty()) QelHelpViewer()->Show(FHelpFile, QelHelpQuit, 0);
}

void TQelHelp::Create() {
    TQelApplication* app = TQelApplication::Instance();
    QString file = app ? app->HelpFile : QString();
    if (file.isEmpty()) {
        file = ProgramPathWith(QStringLiteral(".chm"));
        if (!QFileInfo(file).isFile()) file = ProgramPathWith(QStringLiteral(".hlp"));
    }
    SetHelpFile(file);
    CreateMenuItems();
}

void TQelHelp::SetHelpFile(const QString& FileName) {
    FHelpFile = FileName;
    FHtmlHelp = QFileInfo(FileName).suffix().compare(QLatin1String("chm"), Qt::CaseInsensitive) == 0;
    if (TQelApplication* app = TQelApplication::Instance()) app->HelpFile = FHtmlHelp ? QString() : FileName;
}

void TQelHelp::CreateMenuItems() {
    if (!MainForm) return;
    QMenu* help = MainForm->HelpMenuItem;
    auto item = [&](int32_t text, const QKeySequence& key, int32_t topic, const char* name) {
        QAction* action = MainForm->AddMenuItem(
            QelText(text), key, [this, topic](QObject*) { ShowTopic(topic); }, -1, help, nullptr);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    ContentsMenuItem = item(TextContents, QKeySequence(Qt::Key_F1), TopicContents, "ContentsMenuItem");
    ContentsMenuSeparator = MainForm->AddSeparator(help, nullptr);
    GettingStartedMenuItem = item(TextGettingStarted, QKeySequence(), TopicGettingStarted, "GettingStartedMenuItem");
    TechnicalSupportMenuItem =
        item(TextTechnicalSupport, QKeySequence(), TopicTechnicalSupport, "TechnicalSupportMenuItem");
    HelpMenuSeparator = MainForm->AddSeparator(help, nullptr);
    OrderingInformationMenuItem =
        item(TextOrderingInformation, QKeySequence(), TopicOrderingInformation, "OrderingInformationMenuItem");
}

void TQelHelp::Localize() {
    if (ContentsMenuItem) ContentsMenuItem->setText(QelText(TextContents));
    if (GettingStartedMenuItem) GettingStartedMenuItem->setText(QelText(TextGettingStarted));
    if (TechnicalSupportMenuItem) TechnicalSupportMenuItem->setText(QelText(TextTechnicalSupport));
    if (OrderingInformationMenuItem) OrderingInformationMenuItem->setText(QelText(TextOrderingInformation));
}

void TQelHelp::ShowTopic(int32_t Topic) {
    uint32_t command;
    if (FHtmlHelp)
        command = Topic == TopicContents ? QelHelpDisplayTopic : QelHelpHtmlContext;
    else
        command = Topic == TopicContents ? QelHelpContents : QelHelpContext;
    QelHelpViewer()->Show(FHelpFile, command, Topic);
}

void TQelHelp::ShowGettingStarted() {
    ShowTopic(TopicGettingStarted);
    ShowGettingStartedFlag = false;
}

void TQelHelp::LoadSettings(TQelSDFReader& Reader) {
    if (!Reader.OpenNode(HelpNodeId, HelpSettingsGuid)) return;
    // A stored flag can only clear a set one: the first-run topic shows once.
    if (ShowGettingStartedFlag) Reader.ReadBoolean(ShowGettingStartedElement, ShowGettingStartedFlag);
    Reader.CloseNode();
}

void TQelHelp::SaveSettings(TQelSDFWriter& Writer) {
    Writer.BeginNode(HelpNodeId, HelpSettingsGuid);
    Writer.WriteBoolean(ShowGettingStartedElement, ShowGettingStartedFlag);
    Writer.EndNode();
}

void TQelHelp::Initialize() {
    if (ShowGettingStartedFlag)
        if (TQelApplication* app = TQelApplication::Instance())
            app->QueueCall(TQelMethod(this, &TQelHelp::ShowGettingStarted));
    TQelModule::Initialize();
}
