// The about box: the Help menu's About item, and a modal box in which labels
// from a row table lie on the program's picture, some of them web links.
#pragma once

#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "QelForms.h"
#include "QelModule.h"

class QAction;
class QLabel;
class QTabBar;

// Row flags.
constexpr uint8_t QelAboutBold = 1;
constexpr uint8_t QelAboutSameLine = 2;
constexpr uint8_t QelAboutLink = 4;
constexpr uint8_t QelAboutWordWrap = 8;
constexpr uint8_t QelAboutRightAligned = 16;
constexpr uint8_t QelAboutColon = 32;
constexpr uint8_t QelAboutWhite = 64;

// One label of the box. Text is a language text id, or, when Literal is
// set, ignored in favour of the literal. Positions and sizes are in picture
// pixels; 0 means automatic. A negative Tab shows the label on every tab.
struct TQelAboutRow {
    int32_t Text = 0;
    const char16_t* Literal = nullptr;
    uint8_t Flags = 0;
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    float LineFactor = 0;
    int32_t Tab = 0;
};

struct TQelAboutRows {
    const TQelAboutRow* Rows = nullptr;
    int32_t RowCount = 0;
    QByteArray ItemName;  // the picture's resource name
};

// The host part of a link text: after the first ":" and the "/", ":" and "\"
// that follow it, up to the next of them or the end.
QString QelLinkHost(const QString& Text);

// Paints the picture stretched over the whole control.
class TQelLogoBackground : public QWidget {
public:
    explicit TQelLogoBackground(QWidget* Parent);
    // The named picture of the program's resources (":/pictures/<Name>.*",
    // the name's case does not matter); none when it cannot be read.
    void LoadPicture(const QByteArray& Name);
    const QImage& Picture() const { return FPicture; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QImage FPicture;
};

class TQelAboutForm : public TQelForm<QDialog> {
public:
    TQelAboutForm(QWidget* Parent, const TQelAboutRows& Rows);

    void Create() override;
    void Localize() override;

    QString GetTabCaption(int32_t Id) const;
    void BuildLabels(int32_t BackgroundWidth, int32_t PictureWidth, int32_t Count, const TQelAboutRow* Rows);
    void AboutTabControlChange();
    void LinkLabelClick(QLabel* Label);

    QWidget* AboutTabControl;
    QTabBar* AboutTabs;
    TQelLogoBackground* Background;
    // The labels in row order.
    QList<QLabel*> Labels;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    TQelAboutRows FRows;
};

class TQelAbout : public TQelModule {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;

    void SetRows(const TQelAboutRow* Rows, int32_t RowCount, const QByteArray& ItemName);
    const TQelAboutRows& Rows() const { return FRows; }
    void AboutClick(QObject* Sender);

    QAction* AboutMenuSeparator = nullptr;
    QAction* AboutMenuItem = nullptr;

private:
    TQelAboutRows FRows;
};
