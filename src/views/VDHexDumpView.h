#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QAbstractScrollArea>

#include "platform/Bytes.h"

namespace vd {

// A hex dump of bytes in the layout of VDUtils::hexStringOfData, sixteen bytes a line. Only
// the lines in sight are made and painted, so a body of many megabytes costs no more to show
// than a small one. The user copies the whole dump (Copy, or the context menu).
class VDHexDumpView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit VDHexDumpView(QWidget* parent = nullptr);

    void setBytes(std::shared_ptr<const Bytes> bytes);
    // The whole dump, as hexStringOfData gives it.
    std::string hexString() const;
    std::int64_t lineCount() const;
    // "Courier New" where it is installed, else the system's fixed-width font; 12 pixels.
    static QFont fixedFont();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QString lineText(std::int64_t line) const;
    void updateScrollBars();
    void copyAll() const;

    std::shared_ptr<const Bytes> bytes_;
};

} // namespace vd
