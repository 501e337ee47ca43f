#pragma once

#include <cstdint>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace vd::test {

// A loopback TCP port that was free a moment ago: nobody listens there, so connecting is refused.
inline std::uint16_t unusedTcpPort()
{
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

} // namespace vd::test
