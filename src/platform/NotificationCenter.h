#pragma once

#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vd {

struct Notification {
    std::string name;
    const void* object = nullptr; // who posted it, compared by identity only
    std::any userInfo;            // what the poster attached, if anything
};

class NotificationCenter;

// Ends an observation when it goes away. After the token is gone (or reset) its callback is
// never entered again, and a callback running on another thread has finished.
class ObservationToken {
public:
    ObservationToken() = default;
    ~ObservationToken();
    ObservationToken(ObservationToken&& other) noexcept;
    ObservationToken& operator=(ObservationToken&& other) noexcept;
    ObservationToken(const ObservationToken&) = delete;
    ObservationToken& operator=(const ObservationToken&) = delete;

    void reset();
    explicit operator bool() const { return entry_ != nullptr; }

    struct Entry;

private:
    friend class NotificationCenter;
    ObservationToken(std::weak_ptr<NotificationCenter> center, std::shared_ptr<Entry> entry);

    std::weak_ptr<NotificationCenter> center_;
    std::shared_ptr<Entry> entry_;
};

// Publish and subscribe by name. Delivery is synchronous, on the posting thread, to every
// observer of the name (and of the poster, when an observer asked for one).
class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
public:
    using Callback = std::function<void(const Notification&)>;

    static std::shared_ptr<NotificationCenter> defaultCenter();
    // Tokens reach their centre through a weak reference, so a centre is always shared-owned.
    static std::shared_ptr<NotificationCenter> create();

    // `object` null: notifications from any poster.
    [[nodiscard]] ObservationToken addObserver(std::string name, const void* object, Callback callback);
    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, std::any userInfo = {});

private:
    NotificationCenter() = default;
    friend class ObservationToken;
    void remove(const std::shared_ptr<ObservationToken::Entry>& entry);

    std::mutex mutex_;
    std::vector<std::shared_ptr<ObservationToken::Entry>> entries_;
};

} // namespace vd
