#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QTabBar>
#include <QTest>
#include <QUrl>

#include <iterator>
#include <memory>

#include "QelAbout.h"
#include "QelForms.h"
#include "QelLocalizer.h"

namespace {

class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl& Url) { Urls << Url; }
};

const TQelAboutRow ProgramRows[] = {
    {156, nullptr, QelAboutBold, 285, 45, 0, 0, 0, -1},
    {54, nullptr, QelAboutRightAligned | QelAboutColon, 16, 126, 75, 0, 0, 0},
    {0, u"https://www.velmora.example/visara/", QelAboutSameLine | QelAboutLink, 0, 0, 0, 0, 0, 0},
    {56, nullptr, QelAboutRightAligned | QelAboutColon, 0, 0, 75, 0, 0.5f, 0},
    {0, u"https://www.velmora.example/support/", QelAboutSameLine | QelAboutLink, 0, 0, 0, 0, 0, 0},
    {0, u"Foot line", 0, 0, 275, 0, 0, 0, -1},
};

class TAboutTest : public ::testing::Test {
protected:
    std::unique_ptr<TQelAboutForm> NewForm(const TQelAboutRow* rows, int32_t count) {
        TQelAboutRows record{rows, count, "about"};  // the name's case does not matter
        return std::unique_ptr<TQelAboutForm>(QelCreateForm<TQelAboutForm>(nullptr, record));
    }
    static QStringList Visible(const TQelAboutForm& form) {
        QStringList shown;
        for (QLabel* l : form.Labels)
            if (!l->isHidden()) shown << l->objectName();
        return shown;
    }

    TQelLocalizer Localizer{QDir(VISARA_SOURCE_DIR "/data/Languages").path(), 1033};
    TQelApplication App;
};

}  // namespace

TEST(AboutLinkHost, HostPartOfALinkText) {
    EXPECT_EQ(QelLinkHost("https://www.velmora.example/visara/"), "www.velmora.example");
    EXPECT_EQ(QelLinkHost("http://host.example"), "host.example");
    EXPECT_EQ(QelLinkHost("mailto:help@host.example"), "help@host.example");
    EXPECT_EQ(QelLinkHost("file:\\\\server\\share"), "server");
    EXPECT_EQ(QelLinkHost("https://"), "");
    EXPECT_EQ(QelLinkHost("no colon here"), "");
}

TEST_F(TAboutTest, ProgramTableLaysOutItsRowsOnThePicture) {
    auto form = NewForm(ProgramRows, int32_t(std::size(ProgramRows)));
    EXPECT_EQ(form->size(), QSize(499, 334));
    EXPECT_EQ(form->windowTitle(), "About");
    ASSERT_FALSE(form->Background->Picture().isNull());
    ASSERT_EQ(form->Background->width(), form->Background->Picture().width());  // scale 1
    ASSERT_EQ(form->Labels.size(), 6);
    QLabel* title = form->Labels[0];
    EXPECT_EQ(title->pos(), QPoint(285, 45));
    EXPECT_TRUE(title->font().bold());
    QLabel* web = form->Labels[1];
    EXPECT_EQ(web->text(), "Web site:");
    EXPECT_EQ(web->geometry(), QRect(16, 126, 75, web->height()));
    const QFontMetrics metrics(QLabel().font());
    // A same-line link follows its label after one average character.
    QLabel* site = form->Labels[2];
    EXPECT_EQ(site->text(), "www.velmora.example");
    EXPECT_EQ(site->toolTip(), "https://www.velmora.example/visara/");
    EXPECT_EQ(site->pos(), QPoint(16 + 75 + metrics.averageCharWidth(), 126));
    EXPECT_TRUE(site->font().underline());
    // The next row starts half a line and two leadings below the line above.
    QLabel* support = form->Labels[3];
    const int lineBottom = std::max(web->y() + web->height(), site->y() + site->height());
    EXPECT_EQ(support->pos(),
              QPoint(16, lineBottom + QelRoundEven(0.5 * (metrics.height() + metrics.leading())) + 2 * metrics.leading()));
    EXPECT_EQ(form->Labels[5]->y(), 275);
    EXPECT_EQ(form->AboutTabs->count(), 1);
}

TEST_F(TAboutTest, TabsFollowTheRowsTabIdsEvenWhenAnIdIsSkipped) {
    // Tab 2 without tab 1: the second tab carries id 2 at index 1.
    TQelAboutRow rows[] = {ProgramRows[0], ProgramRows[1], {0, u"Licence text", 0, 20, 60, 0, 0, 0, 2}};
    auto form = NewForm(rows, 3);
    ASSERT_EQ(form->AboutTabs->count(), 2);
    EXPECT_EQ(form->AboutTabs->tabText(1), "License");
    EXPECT_EQ(Visible(*form), (QStringList{"AboutLabel1", "AboutLabel2"}));
    form->AboutTabs->setCurrentIndex(1);
    EXPECT_EQ(Visible(*form), (QStringList{"AboutLabel1", "AboutLabel3"}));

    TQelAboutRow credits[] = {ProgramRows[0], {0, u"Thanks", 0, 20, 60, 0, 0, 0, 1}};
    auto second = NewForm(credits, 2);
    ASSERT_EQ(second->AboutTabs->count(), 2);
    EXPECT_EQ(second->AboutTabs->tabText(1), "Credits");
}

TEST_F(TAboutTest, PictureTwiceAsWideHalvesPositionsAndSizes) {
    auto form = NewForm(nullptr, 0);
    TQelAboutRow rows[] = {{0, u"A", 0, 100, 60, 80, 40, 0, 0}};
    form->BuildLabels(200, 400, 1, rows);
    ASSERT_EQ(form->Labels.size(), 1);
    EXPECT_EQ(form->Labels[0]->geometry(), QRect(50, 30, 40, 20));
}

TEST_F(TAboutTest, EscAndEnterCloseAndLinksGoToTheDesktop) {
    auto form = NewForm(ProgramRows, int32_t(std::size(ProgramRows)));
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    QTest::mouseClick(form->Labels[4], Qt::LeftButton);
    QTest::mouseClick(form->Labels[0], Qt::LeftButton);  // plain text: nothing
    QTest::mouseClick(form->Background, Qt::LeftButton);  // the picture: nothing
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(catcher.Urls, (QList<QUrl>{QUrl("https://www.velmora.example/support/")}));

    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        form->show();
        ASSERT_TRUE(form->isVisible());
        QTest::keyClick(form.get(), key);
        EXPECT_FALSE(form->isVisible()) << key;
    }
}

#include "QelAboutTest.moc"
