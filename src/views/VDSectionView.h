#pragma once

#include <QWidget>

class QLabel;

namespace vd {

class VDLabel;

// One titled box of the General tab: a bold title over a rounded box holding two lines of a
// caption and a value.
class VDSectionView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCaptionWidth = 70;

    explicit VDSectionView(QWidget* parent = nullptr);

    // Captions are shown followed by a colon. Only texts that differ from the shown ones are
    // set, so a user's selection in a value survives a refresh that changes nothing.
    void setTitle(const QString& title, const QString& section1, const QString& text1, const QString& section2,
                  const QString& text2);

    QString title() const;
    QString section1() const;
    QString section2() const;
    VDLabel* text1Label() const { return text1Label_; }
    VDLabel* text2Label() const { return text2Label_; }

private:
    QLabel* titleLabel_;
    QLabel* section1Label_;
    VDLabel* text1Label_;
    QLabel* section2Label_;
    VDLabel* text2Label_;
};

} // namespace vd
