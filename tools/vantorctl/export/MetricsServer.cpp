#include "MetricsServer.h"

#include <chrono>

#include <httplib.h>

#include "../ExitCodes.h"
#include "Exposition.h"

namespace vd::ctl {
namespace {

// A scrape renders a few kilobytes from samples already taken: two threads keep up with any
// number of Prometheus servers while costing little memory.
constexpr std::size_t kServerThreads = 2;
constexpr std::string_view kBearerPrefix = "Bearer ";

// Takes as long whatever the first difference, so the time of a 401 tells nothing of the token.
bool sameSecret(std::string_view given, std::string_view secret)
{
    unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>((i < given.size() ? given[i] : 0) ^ secret[i]);
    return difference == 0;
}

} // namespace

MetricsServer::MetricsServer(const ListenAddress& where, std::optional<std::string> token, Render render)
    : server_(std::make_unique<httplib::Server>())
{
    server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server_->Get("/metrics", [token = std::move(token), render = std::move(render)](const httplib::Request& request,
                                                                                      httplib::Response& response) {
        if (token) {
            const std::string authorization = request.get_header_value("Authorization");
            const std::string_view given = std::string_view(authorization).starts_with(kBearerPrefix)
                                               ? std::string_view(authorization).substr(kBearerPrefix.size())
                                               : std::string_view();
            if (!sameSecret(given, *token)) {
                response.status = 401;
                response.set_header("WWW-Authenticate", "Bearer realm=\"vantorctl export\"");
                response.set_content("a bearer token is required\n", "text/plain; charset=utf-8");
                return;
            }
        }
        response.set_content(render(), kExpositionContentType);
    });

    const int bound = where.port == 0 ? server_->bind_to_any_port(where.host)
                                      : (server_->bind_to_port(where.host, where.port) ? where.port : -1);
    if (bound <= 0)
        throw Failure(kExitFailed, "cannot listen on " + where.host + ":" + std::to_string(where.port));
    port_ = static_cast<std::uint16_t>(bound);
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    // A stop before the server runs would be lost, and the thread would never end.
    while (!server_->is_running() && !listenEnded_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MetricsServer::~MetricsServer()
{
    server_->stop();
    thread_.join();
}

} // namespace vd::ctl
