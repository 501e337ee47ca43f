#pragma once

#include <memory>
#include <string>

#include "VDLazyLinesView.h"
#include "platform/Bytes.h"

namespace vd {

// A hex dump of bytes in the layout of VDUtils::hexStringOfData, sixteen bytes a line, made
// line by line as the lines come into sight.
class VDHexDumpView : public VDLazyLinesView {
    Q_OBJECT
public:
    explicit VDHexDumpView(QWidget* parent = nullptr);

    void setBytes(std::shared_ptr<const Bytes> bytes);
    const std::shared_ptr<const Bytes>& bytes() const { return bytes_; }
    // The whole dump, as hexStringOfData gives it.
    std::string hexString() const;
    std::int64_t lineCount() const override;
    // "Courier New" where it is installed, else the system's fixed-width font; 12 pixels.
    static QFont fixedFont();

protected:
    QString lineText(std::int64_t line) const override;
    int widestLineChars() const override;
    QString wholeText() const override;
    // A range of bytes is the digits of its byte cells, and the gaps between them.
    void appendSpans(const VDTextRange& range, std::vector<LineSpan>& spans) const override;

private:
    std::shared_ptr<const Bytes> bytes_;
};

} // namespace vd
