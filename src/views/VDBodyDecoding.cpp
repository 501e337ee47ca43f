#include "VDBodyDecoding.h"

#include <QStringDecoder>

#include "data/HttpHead.h"
#include "data/VDHTTPDataParser.h"

namespace vd {

std::optional<QString> strictUtf8(const Bytes& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    return text;
}

VDShownBody decodeBody(int parserType, const std::optional<Bytes>& captured)
{
    VDShownBody shown;
    // Nothing captured needs no parser: it is shown as such at once.
    if (!captured || captured->empty()) {
        shown.answered = true;
        return shown;
    }
    const auto parser = VDHTTPDataParser::initWithType(parserType);
    parser->parserData(*captured, [&](int, const Bytes& body) {
        shown.answered = true;
        if (!body.empty())
            shown.body = std::make_shared<const Bytes>(body);
    });
    if (shown.body) {
        shown.text = strictUtf8(*shown.body);
        if (shown.text && VDLongTextView::needsLazyLayout(*shown.text))
            shown.lines = VDLongTextView::linesOf(*shown.text);
        const std::string_view head = headerBlockOf(*captured);
        shown.contentType = headerValues(head, "Content-Type");
        shown.contentEncoding = headerValues(head, "Content-Encoding");
    }
    return shown;
}

} // namespace vd
