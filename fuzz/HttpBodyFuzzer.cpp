// HTTP body cutting: the first byte picks request or response, the rest is the captured
// message; the completion, when it runs, runs once and before the parse returns.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/VDHTTPDataParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    auto parser = vd::VDHTTPDataParser::initWithType(data[0] & 1);
    int calls = 0;
    parser->parserData(std::span(data + 1, size - 1), [&](int, const vd::Bytes& body) {
        ++calls;
        if (body.size() > size)
            std::abort();
    });
    if (calls > 1)
        std::abort();
    parser->doCompleteBlock();
    return 0;
}
