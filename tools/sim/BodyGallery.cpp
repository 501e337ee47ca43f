#include "BodyGallery.h"

#include <memory>

#include "BodyEncoders.h"
#include "ClientPopulation.h"
#include "Destinations.h"
#include "HttpMessages.h"
#include "TrafficGenerator.h"
#include "Tunnel.h"
#include "TunnelStaticText.h"

namespace vd::sim {
namespace {

constexpr std::uint64_t kGallerySeed = 0x6a11e7;
// Past the dashboard's decoding cap of 256 MiB, in about 300 KB of gzip.
constexpr std::size_t kBombSize = 300u << 20;

const Site kGallerySite{kGalleryHost, 80, kHttp, Style::Api, "DOMAIN-SUFFIX,test", "DIRECT", true, false};

std::string textOf(const Bytes& bytes)
{
    return {bytes.begin(), bytes.end()};
}

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string headers(const std::string& contentType, const std::string& coding, std::size_t length)
{
    return "Content-Type: " + contentType + "\r\n" + (coding.empty() ? "" : "Content-Encoding: " + coding + "\r\n") +
           "Content-Length: " + std::to_string(length) + "\r\n";
}

GalleryBody item(std::string name, const std::string& contentType, const std::string& coding, std::string wire, std::string plain)
{
    std::string lines = headers(contentType, coding, wire.size());
    return {std::move(name), std::move(lines), std::move(wire), std::move(plain)};
}

std::vector<GalleryBody> makeGallery()
{
    const std::string json = makeBody(BodyKind::Json, kGallerySeed);
    const std::string html = makeBody(BodyKind::Html, kGallerySeed);
    const std::string jsonType = "application/json; charset=utf-8";
    const std::string htmlType = "text/html; charset=utf-8";
    const std::string gzipJson = textOf(gzipOf(bytesOf(json)));
    std::string invalidJson = json;
    invalidJson.insert(invalidJson.size() - 1, ",");

    std::vector<GalleryBody> gallery;
    gallery.push_back(item("json-gzip", jsonType, "gzip", gzipJson, json));
    gallery.push_back(item("json-br", jsonType, "br", textOf(brotliOf(bytesOf(json))), json));
    gallery.push_back(item("json-zstd", jsonType, "zstd", textOf(zstdOf(bytesOf(json))), json));
    gallery.push_back(item("json-deflate", jsonType, "deflate", textOf(zlibOf(bytesOf(json))), json));
    gallery.push_back(item("json-deflate-raw", jsonType, "deflate", textOf(rawDeflateOf(bytesOf(json))), json));
    gallery.push_back(item("html-gzip", htmlType, "gzip", textOf(gzipOf(bytesOf(html))), html));
    gallery.push_back(item("html-br", htmlType, "br", textOf(brotliOf(bytesOf(html))), html));
    gallery.push_back(item("html-zstd", htmlType, "zstd", textOf(zstdOf(bytesOf(html))), html));
    gallery.push_back(item("html-deflate", htmlType, "deflate", textOf(zlibOf(bytesOf(html))), html));
    const std::string png = makeBody(BodyKind::Png, kGallerySeed);
    gallery.push_back(item("png", "image/png", "", png, png));
    gallery.push_back(item("gzip-bomb", "text/plain", "gzip", textOf(gzippedZeros(kBombSize)), {}));
    gallery.push_back(item("gzip-truncated", jsonType, "gzip", gzipJson.substr(0, gzipJson.size() * 3 / 5), {}));
    const std::string form = makeBody(BodyKind::Form, kGallerySeed);
    gallery.push_back(item("form", "application/x-www-form-urlencoded", "", form, form));
    gallery.push_back(item("json-invalid", jsonType, "", invalidJson, invalidJson));
    return gallery;
}

} // namespace

const std::vector<GalleryBody>& bodyGallery()
{
    static const std::vector<GalleryBody> gallery = makeGallery();
    return gallery;
}

std::vector<Record> galleryRecords(std::int64_t& nextNumber, std::int64_t now)
{
    TrafficGenerator random(kGallerySeed);
    ClientPopulation clients(random);
    std::vector<Record> records;
    for (const GalleryBody& body : bodyGallery()) {
        const Client& client = clients.pick();
        auto exchange = std::make_shared<Exchange>();
        exchange->requestHead = "GET http://" + std::string(kGalleryHost) + "/gallery/" + body.name + " HTTP/1.1\r\nHost: " +
                                kGalleryHost + "\r\nUser-Agent: " + client.profile.agent +
                                "\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate, br, zstd\r\nProxy-Connection: keep-alive\r\n\r\n";
        exchange->responseHead = "HTTP/1.1 200 OK\r\n" + body.headerLines + "\r\n";
        exchange->fixedResponseBody = &body.wire;
        exchange->captured = true;
        exchange->seed = random.next();

        Tunnel t;
        t.id = nextNumber++;
        t.style = Style::Api;
        t.tStart = std::max<std::int64_t>(1, now - 900);
        t.tServerReady = t.tStart + 2;
        t.tDns = t.tServerReady + 5;
        t.tRule = t.tDns + 1;
        t.tProxy = t.tRule + 30;
        t.tFirstByte = t.tProxy + 60;
        t.tTransferEnd = t.tPlannedEnd = now;
        t.rx = t.rxTotal = static_cast<std::int64_t>(exchange->responseHead.size() + body.wire.size());
        t.tx = t.txTotal = static_cast<std::int64_t>(exchange->requestHead.size());
        t.hasReceive = true;
        const std::string status = "200 OK";
        t.staticPart = staticTextOf(StaticFacts{t.id, client, kGallerySite, false, false, status, *exchange}, random);

        Record record;
        record.id = t.id;
        record.place = nextNumber++;
        record.text = tunnelText(t, now, record.place + 1, CloseReason::complete, now, now);
        record.exchange = std::move(exchange);
        record.hasReceive = true;
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace vd::sim
