#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>

#include <http_parser.h>

#include "platform/Bytes.h"

namespace vd {

// Cuts the body out of a captured HTTP message (start line, headers, body), undoing chunked
// transfer coding and leaving content codings such as gzip as they are. Used on one thread.
class VDHTTPDataParser {
public:
    using Completion = std::function<void(int status, const Bytes& data)>;

    static constexpr int kStatusNoInput = 0;
    static constexpr int kStatusComplete = 2;

    // 1 parses a response, anything else a request.
    static std::unique_ptr<VDHTTPDataParser> initWithType(int type);
    explicit VDHTTPDataParser(int type);

    // The library keeps a pointer back to this object.
    VDHTTPDataParser(const VDHTTPDataParser&) = delete;
    VDHTTPDataParser& operator=(const VDHTTPDataParser&) = delete;

    // Every call parses one message from scratch. The completion runs before this returns:
    // at once with kStatusNoInput for empty bytes, with kStatusComplete and the body when the
    // bytes hold a whole message with a non-empty body, and not at all otherwise (garbage, a
    // message cut short, no body). A message framed by the end of the connection ends with the
    // bytes.
    void parserData(std::span<const std::uint8_t> bytes, Completion complete);
    // Hands the body collected so far to the held completion, when there is both.
    void doCompleteBlock();

    const Bytes& data() const { return data_; }
    // Hands the body over rather than copying it: an export holds one body at a time.
    Bytes takeData() { return std::move(data_); }

private:
    void reset();

    static int onHeadersComplete(http_parser* parser);
    static int onBody(http_parser* parser, const char* at, std::size_t length);
    static int onMessageComplete(http_parser* parser);

    http_parser_type type_;
    http_parser parser_{};
    http_parser_settings settings_{};
    Bytes data_;
    Completion completeBlock_;
    // Valid only inside parserData: bounds how much a body can claim.
    const char* inputEnd_ = nullptr;
    std::uint64_t announcedLength_ = 0;
    bool messageComplete_ = false;
};

} // namespace vd
