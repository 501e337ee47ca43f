#pragma once

#include <cstdint>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace vd::test {

// A TCP listener on a free loopback port, for a test to connect to and play the other end with
// blocking calls.
class LoopbackListener {
public:
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    asio::ip::tcp::socket accept() { return acceptor_.accept(); }

private:
    asio::io_context context_;
    asio::ip::tcp::acceptor acceptor_{context_, {asio::ip::make_address("127.0.0.1"), 0}};
};

} // namespace vd::test
