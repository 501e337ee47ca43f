#include <QByteArray>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "PrettyBody.h"

namespace vd {

PrettyText prettyXml(std::string_view xml)
{
    QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
    QByteArray pretty;
    QXmlStreamWriter writer(&pretty);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            break;
        // The writer puts its own line breaks and indentation between elements, and would
        // declare a document that did not declare itself.
        if (reader.isWhitespace() || (reader.isStartDocument() && reader.documentVersion().isEmpty()))
            continue;
        writer.writeCurrentToken(reader);
    }
    if (reader.hasError()) {
        return {{}, "Not valid XML: " + reader.errorString().toStdString() + " (line " + std::to_string(reader.lineNumber()) + ")"};
    }
    std::string text = pretty.toStdString();
    // Without a declaration the writer still breaks the line before the first element.
    if (text.starts_with('\n'))
        text.erase(0, 1);
    return {std::move(text), {}};
}

} // namespace vd
