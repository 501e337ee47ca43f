#include "VDAboutViewController.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "VDWindowLook.h"
#include "VdVersion.h"

namespace vd {
namespace {

const char* const kWebsite = "https://vantor.example";

QLabel* secondaryLine(const QString& text)
{
    auto* label = new QLabel(text);
    setTextPixelSize(*label, 12);
    dimText(*label);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// Each component's notice starts with its name, after a blank line; the names become headings.
void emboldenHeadings(QTextDocument& document)
{
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const bool startsNotice = block == document.begin() || block.previous().text().isEmpty();
        if (!startsNotice || block.text().isEmpty())
            continue;
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(bold);
    }
}

} // namespace

VDAboutViewController::VDAboutViewController(QWidget* parent)
    : QWidget(parent)
{
    setupUI();
}

QString VDAboutViewController::versionString()
{
    return QStringLiteral("Version: %1 (%2)").arg(VD_VERSION, VD_BUILD_NUMBER);
}

QString VDAboutViewController::licenseString()
{
    return QStringLiteral(
        "Qt 6\n"
        "Copyright (C) The Qt Company Ltd. and other contributors.\n"
        "Used under the GNU Lesser General Public License version 3 (LGPLv3). Qt is linked dynamically: "
        "you may replace its libraries with versions of your own. Source code: https://download.qt.io/\n"
        "\n"
        "Asio\n"
        "Copyright (c) 2003-2022 Christopher M. Kohlhoff.\n"
        "Distributed under the Boost Software License, Version 1.0.\n"
        "\n"
        "JSON for Modern C++ (nlohmann json)\n"
        "Copyright (c) 2013-2022 Niels Lohmann.\n"
        "Licensed under the MIT License: permission is granted, free of charge, to deal in the software "
        "without restriction, provided the copyright and permission notices are kept in all copies.\n"
        "\n"
        "simdjson\n"
        "Copyright the simdjson authors.\n"
        "Licensed under the Apache License, Version 2.0.\n"
        "\n"
        "libplist\n"
        "Copyright (c) 2008-2009 Jonathan Beck, (c) 2012-2019 Nikias Bassen, and contributors.\n"
        "Used under the GNU Lesser General Public License version 2.1 (LGPL-2.1). libplist is linked "
        "dynamically: you may replace it with a version of your own.\n"
        "\n"
        "http-parser\n"
        "Copyright Joyent, Inc. and other Node contributors.\n"
        "Licensed under the MIT License.\n"
        "\n"
        "CLI11\n"
        "Copyright (c) 2017-2021 University of Cincinnati, developed by Henry Schreiner under NSF AWARD 1414736.\n"
        "Licensed under the 3-clause BSD License.\n"
        "\n"
        "The full licence texts are installed with each component, under /usr/share/doc/ on Debian.");
}

void VDAboutViewController::openWebsite()
{
    QDesktopServices::openUrl(QUrl(kWebsite));
}

void VDAboutViewController::setupUI()
{
    auto* icon = new QLabel;
    icon->setPixmap(applicationIconPixmap(64));
    icon->setFixedSize(64, 64);

    auto* title = new QLabel("Vantor Dashboard");
    setTextPixelSize(*title, 40);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    lines->addWidget(title);
    lines->addWidget(secondaryLine(versionString()));
    lines->addWidget(secondaryLine(QStringLiteral("Copyright © 2026 lumenforge. All rights reserved.")));

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(icon, 0, Qt::AlignTop);
    header->addLayout(lines, 1);

    auto* heading = secondaryLine("Acknowledgments");

    auto* acknowledgments = new QTextEdit;
    acknowledgments->setObjectName("acknowledgments");
    acknowledgments->setAccessibleName("Acknowledgments");
    setTextPixelSize(*acknowledgments, 12);
    acknowledgments->setPlainText(licenseString());
    emboldenHeadings(*acknowledgments->document());
    acknowledgments->setReadOnly(true);
    acknowledgments->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    acknowledgments->setLineWrapMode(QTextEdit::WidgetWidth);
    acknowledgments->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    acknowledgments->setStyleSheet("QTextEdit { border: 1px solid palette(mid); border-radius: 3px; }");

    auto* website = new QPushButton("Visit Vantor Website");
    website->setObjectName("openWebsite");
    connect(website, &QPushButton::clicked, this, &VDAboutViewController::openWebsite);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(website);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(6);
    layout->addLayout(header);
    layout->addSpacing(4);
    layout->addWidget(heading);
    layout->addWidget(acknowledgments, 1);
    layout->addLayout(bottom);
}

} // namespace vd
