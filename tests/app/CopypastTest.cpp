#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include "app/Copypast.h"
#include "app/VDAboutViewController.h"
#include "app/VDAboutWindowController.h"

namespace {

// Text controls in an active window that also has the menu's Ctrl+A ("About") and a Ctrl+Shift+C
// shortcut, so a test can see who got each combination.
class CopypastTest : public testing::Test {
protected:
    void SetUp() override
    {
        qApp->installEventFilter(&copypast);
        QApplication::clipboard()->setText("before");
    }
    void TearDown() override { qApp->removeEventFilter(&copypast); }

    void addShortcuts(QWidget& window)
    {
        about.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
        shiftCopy.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
        window.addAction(&about);
        window.addAction(&shiftCopy);
    }

    void activate(QWidget& window, QWidget& focus)
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        focus.setFocus();
    }

    vd::Copypast copypast;
    QAction about{"About"};
    QAction shiftCopy{"Other"};
    QSignalSpy aboutSpy{&about, &QAction::triggered};
    QSignalSpy shiftCopySpy{&shiftCopy, &QAction::triggered};
};

TEST_F(CopypastTest, AcknowledgmentsCopyTheSelectionAndSelectAllBeforeTheMenu)
{
    vd::VDAboutWindowController controller;
    controller.loadWindow();
    QWidget& window = *controller.window();
    auto* text = window.findChild<QTextEdit*>("acknowledgments");
    ASSERT_NE(text, nullptr);
    addShortcuts(window);
    activate(window, *text);

    QTextCursor cursor = text->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Qt 6");

    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(text->textCursor().selectedText().size(), vd::VDAboutViewController::licenseString().size());
    EXPECT_EQ(aboutSpy.count(), 0);

    // Not selectable any more: Ctrl+A is the menu's again.
    text->setTextInteractionFlags(Qt::NoTextInteraction);
    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(aboutSpy.count(), 1);
}

TEST_F(CopypastTest, OnlyExactlyCtrlCountsAndPasswordFieldsNeverHandTheirTextOut)
{
    QWidget window;
    auto* field = new QLineEdit("plain words", &window);
    auto* password = new QLineEdit("secret", &window);
    password->setEchoMode(QLineEdit::Password);
    addShortcuts(window);
    activate(window, *field);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
    EXPECT_EQ(shiftCopySpy.count(), 1);
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "plain words");
    EXPECT_TRUE(field->text().isEmpty());
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "plain wordsplain words");

    password->setFocus();
    QTest::keyClick(password, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(password->selectedText(), "secret");
    EXPECT_EQ(aboutSpy.count(), 0);
    QTest::keyClick(password, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(password, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "plain words");
    EXPECT_EQ(password->text(), "secret");
}

} // namespace
