#include <gtest/gtest.h>

#include <QPushButton>
#include <QApplication>
#include <QTimer>

#include "QelMessageBox.h"

TEST(QelMessageBox, FlagsMapOntoButtonsIconsAndDefaults) {
    using B = QMessageBox;
    EXPECT_EQ(QelMessageBoxButtons(MB_OK), B::StandardButtons(B::Ok));
    EXPECT_EQ(QelMessageBoxButtons(MB_OKCANCEL), B::Ok | B::Cancel);
    EXPECT_EQ(QelMessageBoxButtons(MB_ABORTRETRYIGNORE), B::Abort | B::Retry | B::Ignore);
    EXPECT_EQ(QelMessageBoxButtons(MB_YESNOCANCEL | MB_ICONQUESTION), B::Yes | B::No | B::Cancel);
    EXPECT_EQ(QelMessageBoxButtons(MB_YESNO | MB_ICONWARNING), B::Yes | B::No);
    EXPECT_EQ(QelMessageBoxButtons(MB_RETRYCANCEL), B::Retry | B::Cancel);

    EXPECT_EQ(QelMessageBoxIcon(MB_OK), B::NoIcon);
    EXPECT_EQ(QelMessageBoxIcon(MB_YESNO | MB_ICONERROR), B::Critical);
    EXPECT_EQ(QelMessageBoxIcon(MB_ICONQUESTION), B::Question);
    EXPECT_EQ(QelMessageBoxIcon(MB_ICONEXCLAMATION), B::Warning);
    EXPECT_EQ(QelMessageBoxIcon(MB_ICONINFORMATION | MB_OKCANCEL), B::Information);

    EXPECT_EQ(QelMessageBoxDefaultButton(MB_YESNO), B::Yes);
    EXPECT_EQ(QelMessageBoxDefaultButton(MB_YESNO | MB_DEFBUTTON2), B::No);
    EXPECT_EQ(QelMessageBoxDefaultButton(MB_YESNOCANCEL | MB_DEFBUTTON3), B::Cancel);
    // A default beyond the buttons falls back to the first.
    EXPECT_EQ(QelMessageBoxDefaultButton(MB_OK | MB_DEFBUTTON3), B::Ok);
}

TEST(QelMessageBox, PressedButtonsMapOntoPlatformIds) {
    using B = QMessageBox;
    EXPECT_EQ(QelMessageBoxResult(B::Ok, MB_OKCANCEL), IDOK);
    EXPECT_EQ(QelMessageBoxResult(B::Cancel, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(QelMessageBoxResult(B::Abort, MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(QelMessageBoxResult(B::Retry, MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(QelMessageBoxResult(B::Ignore, MB_ABORTRETRYIGNORE), IDIGNORE);
    EXPECT_EQ(QelMessageBoxResult(B::Yes, MB_YESNO), IDYES);
    EXPECT_EQ(QelMessageBoxResult(B::No, MB_YESNO), IDNO);
    // Closed without a button: the box's cancelling answer.
    EXPECT_EQ(QelMessageBoxResult(B::NoButton, MB_OK), IDOK);
    EXPECT_EQ(QelMessageBoxResult(B::NoButton, MB_YESNO), IDNO);
    EXPECT_EQ(QelMessageBoxResult(B::NoButton, MB_YESNOCANCEL), IDCANCEL);
}

TEST(QelMessageBox, HookAnswersInsteadOfTheBoxAndCanBeRemoved) {
    QString text, caption;
    uint32_t flags = 0;
    TQelMessageBoxHook previous = QelSetMessageBoxHook([&](const QString& t, const QString& c, uint32_t f) {
        text = t;
        caption = c;
        flags = f;
        return IDRETRY;
    });
    EXPECT_EQ(QelMessageBox(nullptr, "Question?", "Caption", MB_RETRYCANCEL | MB_ICONQUESTION), IDRETRY);
    EXPECT_EQ(text, "Question?");
    EXPECT_EQ(caption, "Caption");
    EXPECT_EQ(flags, MB_RETRYCANCEL | MB_ICONQUESTION);
    TQelMessageBoxHook mine = QelSetMessageBoxHook(previous);
    EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(QelMessageBox, RealBoxReturnsThePressedButton) {
    // Without a hook the box is shown; press its "No" button from the loop.
    TQelMessageBoxHook previous = QelSetMessageBoxHook(nullptr);
    QString shownCaption;
    QMessageBox::StandardButton shownDefault = QMessageBox::NoButton;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownCaption = box->windowTitle();
        shownDefault = box->standardButton(box->defaultButton());
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(QelMessageBox(nullptr, "Save?", "Visara", MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(shownCaption, "Visara");
    EXPECT_EQ(shownDefault, QMessageBox::No);
    QelSetMessageBoxHook(previous);
}
