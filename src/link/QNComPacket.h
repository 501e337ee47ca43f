#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"

namespace vd {

// One message of the service link: a JSON object with one-letter keys, sent as Base64 text
// closed by the bytes 0xDB 0xBC (which Base64 text can never contain).
class QNComPacket {
public:
    using Dictionary = nlohmann::ordered_json;

    static constexpr std::uint8_t kTerminator[2] = {0xDB, 0xBC};

    // An envelope with "v" = 1 and "c" = 1 and no id.
    QNComPacket();
    // The same with "i" = id; what the client manager sends.
    static QNComPacket initWithId(std::int64_t id);
    // Decodes exactly one wire form, terminator included. Failures are logged; no packet.
    static std::optional<QNComPacket> initWithData(std::span<const std::uint8_t> bytes);

    // The wire form, or nothing (logged) when the dictionary cannot be written as JSON.
    std::optional<Bytes> toData() const;

    std::int64_t id_() const;
    void setId_(std::int64_t value);
    float version() const;
    void setVersion(float value);
    std::int64_t code() const;
    void setCode(std::int64_t value);
    std::uint64_t cmd() const;
    void setCmd(std::uint64_t value);
    // "m", when it is a string.
    std::optional<std::string> message() const;
    // Stores "" for none: the key stays present.
    void setMessage(const std::optional<std::string>& value);
    // "d", when it is an object; null otherwise.
    const Dictionary* data() const;
    Dictionary* data();
    // Removes "d" for none.
    void setData(std::optional<Dictionary> value);

    const Dictionary& dic() const { return dic_; }
    Dictionary& dic() { return dic_; }
    std::int64_t oriDataLength() const { return oriDataLength_; }

private:
    friend class ReceivedPacket;

    Dictionary dic_;
    std::int64_t oriDataLength_ = 0;
};

} // namespace vd
