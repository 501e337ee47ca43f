#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/AppSettings.h"
#include "app/VDStartWindowController.h"
#include "app/WindowOpener.h"

// A connect window on screen, with an opener and a close that write into one log, so that tests
// can see what was asked for and in which order.
class StartWindowFixture : public testing::Test {
protected:
    struct RecordingOpener : vd::WindowOpener {
        std::vector<std::string>& log;
        explicit RecordingOpener(std::vector<std::string>& into) : log(into) {}
        void createLocalWindow() override { log.push_back("local"); }
        void createRemoteWindowWithHost(const std::string& host, std::int64_t port, const std::string& password) override
        {
            log.push_back("remote " + host + ":" + std::to_string(port) + " " + password);
        }
        void createRemoteWindowWithUSBPort(std::int64_t port, const std::string& password) override
        {
            log.push_back("usb " + std::to_string(port) + " " + password);
        }
    };

    void SetUp() override
    {
        auto settings = vd::appSettings();
        settings->clear();
        vd::syncAppSettings(*settings);
    }

    // Separate from SetUp so that a test can store profiles before the window reads them.
    void openWindow()
    {
        controller = std::make_unique<vd::VDStartWindowController>(opener);
        controller->loadWindow();
        QObject::connect(controller.get(), &vd::VDWindowController::windowWillClose, [this] { log.push_back("close"); });
        controller->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }

    template <typename Widget = QWidget>
    Widget* control(const char* name) const
    {
        auto* found = controller->window()->findChild<Widget*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* name)
    {
        // Left of the middle: a radio option only takes clicks on its circle and its words.
        QWidget* target = control(name);
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(8, target->height() / 2));
    }

    void type(const char* field, const QString& text) { QTest::keyClicks(control<QLineEdit>(field), text); }

    bool enabled(const char* name) const { return control(name)->isEnabled(); }

    // The profile-name sheet now on screen, if any (closed ones wait for deletion).
    QDialog* sheet() const
    {
        for (QDialog* dialog : controller->window()->findChildren<QDialog*>("profileNameSheet"))
            if (dialog->isVisible())
                return dialog;
        return nullptr;
    }

    void answerSheet(const QString& name, const QString& button = "Save")
    {
        QDialog* open = sheet();
        ASSERT_NE(open, nullptr);
        auto* field = open->findChild<QLineEdit*>("profileName");
        field->setText(name);
        for (QPushButton* candidate : open->findChildren<QPushButton*>())
            if (candidate->text() == button)
                QTest::mouseClick(candidate, Qt::LeftButton);
    }

    std::vector<std::string> log;
    RecordingOpener opener{log};
    std::unique_ptr<vd::VDStartWindowController> controller;
};
