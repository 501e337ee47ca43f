#include "VDBodyModes.h"

#include <QBuffer>
#include <QImageReader>

#include "VDBodyDecoding.h"
#include "data/ContentDecoding.h"

namespace vd {
namespace {

bool coded(const VDBodyFacts& facts)
{
    const std::string& coding = facts.contentEncoding;
    return !coding.empty() && coding != "identity";
}

QByteArray viewOf(const Bytes& bytes)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

bool imageType(const std::string& contentType)
{
    return contentType.size() > 6 && std::equal(contentType.begin(), contentType.begin() + 6, "image/",
                                                 [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// The body with its content coding undone; the problem line when that fell short.
std::pair<std::shared_ptr<const Bytes>, QString> decodedBody(const VDBodyFacts& facts)
{
    if (!coded(facts))
        return {facts.body, QString()};
    DecodedContent decoded = decodeContent(*facts.body, facts.contentEncoding);
    return {std::make_shared<const Bytes>(std::move(decoded.bytes)), QString::fromStdString(decoded.problem)};
}

void showAsTextOrHex(VDModeContent& content, const std::shared_ptr<const Bytes>& bytes)
{
    content.text = strictUtf8(*bytes);
    if (!content.text)
        content.hex = bytes;
}

VDModeContent prettyContent(const VDBodyFacts& facts)
{
    auto [bytes, problem] = decodedBody(facts);
    VDModeContent content;
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    PrettyText pretty;
    switch (prettyKindOf(facts.contentType, *bytes)) {
    case PrettyKind::json: pretty = prettyJson(text); content.json = true; break;
    case PrettyKind::xml: pretty = prettyXml(text); break;
    case PrettyKind::html: pretty = prettyHtml(text); break;
    case PrettyKind::form: content.formFields = formFields(text); return content;
    case PrettyKind::none: pretty.problem = "The body is not JSON, XML, HTML or form data"; break;
    }
    if (problem.isEmpty() && pretty.problem.empty()) {
        content.text = QString::fromUtf8(pretty.text.data(), static_cast<qsizetype>(pretty.text.size()));
        return content;
    }
    // Shown as it came, with the reason it could not be shown readably.
    content.json = false;
    content.note = problem.isEmpty() ? QString::fromStdString(pretty.problem) : problem;
    showAsTextOrHex(content, facts.body);
    return content;
}

VDModeContent imageContent(const VDBodyFacts& facts)
{
    auto [bytes, problem] = decodedBody(facts);
    VDModeContent content;
    QByteArray data = viewOf(*bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    const QString format = QString::fromLatin1(reader.format()).toUpper();
    if (size.isValid() && qint64(size.width()) * size.height() > kLargestImagePixels) {
        content.note = QString("%1 × %2 %3 is larger than 64 megapixels and is not shown").arg(size.width()).arg(size.height()).arg(format);
    } else if (reader.read(&content.image)) {
        content.note = QString("%1 × %2 %3").arg(content.image.width()).arg(content.image.height()).arg(format);
        return content;
    } else {
        content.note = "Not an image that can be shown: " + reader.errorString();
    }
    if (!problem.isEmpty())
        content.note = problem;
    showAsTextOrHex(content, facts.body);
    return content;
}

} // namespace

std::vector<VDBodyMode> applicableModes(const VDBodyFacts& facts)
{
    std::vector<VDBodyMode> modes{VDBodyMode::raw};
    if (!facts.body || facts.body->empty())
        return modes;
    const bool isCoded = coded(facts);
    // A coded body's first bytes say nothing of what it is.
    const Bytes none;
    const Bytes& sniffed = isCoded ? none : *facts.body;
    if (isCoded)
        modes.push_back(VDBodyMode::decoded);
    if (prettyKindOf(facts.contentType, sniffed) != PrettyKind::none)
        modes.push_back(VDBodyMode::pretty);
    QByteArray data = viewOf(sniffed);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    if (imageType(facts.contentType) || (!sniffed.empty() && !QImageReader::imageFormat(&buffer).isEmpty()))
        modes.push_back(VDBodyMode::image);
    return modes;
}

static VDModeContent contentFor(VDBodyMode mode, const VDBodyFacts& facts)
{
    switch (mode) {
    case VDBodyMode::decoded: {
        auto [bytes, problem] = decodedBody(facts);
        VDModeContent content;
        content.note = problem;
        content.decoded = bytes;
        showAsTextOrHex(content, bytes);
        return content;
    }
    case VDBodyMode::pretty: return prettyContent(facts);
    case VDBodyMode::image: return imageContent(facts);
    case VDBodyMode::raw: break;
    }
    VDModeContent content;
    showAsTextOrHex(content, facts.body);
    return content;
}

VDModeContent contentOf(VDBodyMode mode, const VDBodyFacts& facts)
{
    VDModeContent content = contentFor(mode, facts);
    if (content.text && VDLongTextView::needsLazyLayout(*content.text))
        content.lines = VDLongTextView::linesOf(*content.text);
    return content;
}

} // namespace vd
