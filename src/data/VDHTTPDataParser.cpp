#include "VDHTTPDataParser.h"

#include <algorithm>
#include <limits>

namespace vd {

std::unique_ptr<VDHTTPDataParser> VDHTTPDataParser::initWithType(int type)
{
    return std::make_unique<VDHTTPDataParser>(type);
}

// Header lines are deliberately not echoed to the log: they carry cookies and authorisation
// tokens of the captured traffic, which we otherwise keep owner-only.
VDHTTPDataParser::VDHTTPDataParser(int type) : type_(type == 1 ? HTTP_RESPONSE : HTTP_REQUEST)
{
    http_parser_settings_init(&settings_);
    settings_.on_headers_complete = &VDHTTPDataParser::onHeadersComplete;
    settings_.on_body = &VDHTTPDataParser::onBody;
    settings_.on_message_complete = &VDHTTPDataParser::onMessageComplete;
    reset();
}

void VDHTTPDataParser::reset()
{
    http_parser_init(&parser_, type_);
    parser_.data = this;
    // The capacity stays: feeding the same parser again reuses the buffer of the last body.
    data_.clear();
    announcedLength_ = 0;
    messageComplete_ = false;
}

void VDHTTPDataParser::parserData(std::span<const std::uint8_t> bytes, Completion complete)
{
    completeBlock_ = std::move(complete);
    // A view fed twice shows one body, never the old one with the new one appended.
    reset();
    if (bytes.empty()) {
        if (completeBlock_) {
            const Completion callback = completeBlock_;
            callback(kStatusNoInput, data_);
        }
        return;
    }

    const char* begin = reinterpret_cast<const char*>(bytes.data());
    inputEnd_ = begin + bytes.size();
    http_parser_execute(&parser_, &settings_, begin, bytes.size());
    // A body without length or chunking runs to the end of the connection, and the captured
    // bytes are all of it: saying so lets the library finish such a message. For a message cut
    // short this only records an error.
    if (!messageComplete_)
        http_parser_execute(&parser_, &settings_, nullptr, 0);
    inputEnd_ = nullptr;

    // Called once the library is done with our state, so the completion may feed this parser
    // again.
    if (messageComplete_)
        doCompleteBlock();
}

void VDHTTPDataParser::doCompleteBlock()
{
    // Run from a copy: a completion that feeds this parser again replaces the held one.
    if (completeBlock_ && !data_.empty()) {
        const Completion callback = completeBlock_;
        callback(kStatusComplete, data_);
    }
}

int VDHTTPDataParser::onHeadersComplete(http_parser* parser)
{
    auto* self = static_cast<VDHTTPDataParser*>(parser->data);
    // Read here because the library counts it down while the body goes by. Without a
    // Content-Length it holds a "none" marker, and chunked lengths are per chunk.
    if (!(parser->flags & F_CHUNKED) && parser->content_length != std::numeric_limits<std::uint64_t>::max())
        self->announcedLength_ = parser->content_length;
    return 0;
}

int VDHTTPDataParser::onBody(http_parser* parser, const char* at, std::size_t length)
{
    auto* self = static_cast<VDHTTPDataParser*>(parser->data);
    if (self->data_.empty()) {
        // One allocation for the whole body. The rest of the input bounds any body, whatever
        // length a header announces, so a hostile Content-Length cannot make us reserve more.
        const auto left = static_cast<std::uint64_t>(self->inputEnd_ - at);
        const std::uint64_t expected = self->announcedLength_ > 0 ? std::min(self->announcedLength_, left) : left;
        self->data_.reserve(static_cast<std::size_t>(expected));
    }
    const auto* first = reinterpret_cast<const std::uint8_t*>(at);
    self->data_.insert(self->data_.end(), first, first + length);
    return 0;
}

int VDHTTPDataParser::onMessageComplete(http_parser* parser)
{
    auto* self = static_cast<VDHTTPDataParser*>(parser->data);
    // An interim or body-less message (a "100 Continue", say) is passed over; the first one
    // that carries a body is the message of this call, and the library stops there.
    if (self->data_.empty())
        return 0;
    self->messageComplete_ = true;
    return 1;
}

} // namespace vd
