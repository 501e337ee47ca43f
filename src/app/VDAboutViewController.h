#pragma once

#include <QWidget>

namespace vd {

// The About content: icon, name, version and build, rights line, the acknowledgments of the
// open-source components the program is built from, and a button to the web site.
class VDAboutViewController : public QWidget {
    Q_OBJECT
public:
    explicit VDAboutViewController(QWidget* parent = nullptr);

    static QString versionString();
    static QString licenseString();
    static void openWebsite();

private:
    void setupUI();
};

} // namespace vd
