#include "ClientPopulation.h"

#include <algorithm>

namespace vd::sim {
namespace {

constexpr const char* kBrowserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Safari/537.36";
constexpr const char* kMobileAgent =
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Mobile Safari/537.36";

std::vector<ClientProfile> clientProfiles()
{
    return {
        {"Web Browser", "com.example.browser", "/Applications/Web Browser.app/Contents/MacOS/Web Browser", "127.0.0.1",
         kBrowserAgent, 24, {0, 1, 2, 4, 5, 6, 16, 17}, true},
        {"Web Browser Helper", "com.example.browser.helper",
         "/Applications/Web Browser.app/Contents/Frameworks/Web Browser Helper.app/Contents/MacOS/Web Browser Helper",
         "127.0.0.1", kBrowserAgent, 10, {3, 4, 5, 6, 14}, true},
        {"Web Browser Helper", "com.example.browser.helper",
         "/Applications/Web Browser.app/Contents/Frameworks/Web Browser Helper.app/Contents/MacOS/Web Browser Helper",
         "127.0.0.1", kBrowserAgent, 8, {0, 4, 7}, true},
        {"Mail", "com.example.mail", "/Applications/Mail.app/Contents/MacOS/Mail", "127.0.0.1", "Mail/16.0 (Macintosh)", 5,
         {10, 11, 2, 5}, false},
        {"Chat", "com.example.chat", "/Applications/Chat.app/Contents/MacOS/Chat", "127.0.0.1", "Chat/5.2.1 (desktop)", 6,
         {7, 4, 12, 14}, false},
        {"Music", "com.example.music", "/Applications/Music.app/Contents/MacOS/Music", "::1", "Music/1.4.2", 4, {8, 2, 5},
         false},
        {"Code Helper", "com.example.code.helper", "/Applications/Code.app/Contents/Frameworks/Code Helper.app/Contents/MacOS/Code Helper",
         "127.0.0.1", "Code/1.89.0", 5, {13, 14, 9, 3}, false},
        {"curl", "", "/usr/bin/curl", "127.0.0.1", "curl/8.5.0", 4, {2, 16, 0, 17}, false},
        {"python3", "", "/usr/local/bin/python3", "127.0.0.1", "python-requests/2.31.0", 3, {15, 3, 2}, false},
        {"softwareupdated", "", "/usr/libexec/softwareupdated", "127.0.0.1", "softwareupdated/2.1", 2, {9}, false},
        {"git-remote-https", "", "/usr/libexec/git-core/git-remote-https", "192.168.1.10", "git/2.44.0", 3, {13}, false},
        {"", "", "", "192.168.1.23", kMobileAgent, 5, {0, 2, 7, 12, 5, 8}, true},
        {"", "", "", "192.168.1.41", kMobileAgent, 4, {1, 4, 6, 9}, true},
        {"", "", "", "10.8.0.6", "Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101", 3, {13, 2, 0}, true},
        {"", "", "", "fd00::2a", "okhttp/4.12.0", 2, {2, 12}, false},
    };
}

} // namespace

ClientPopulation::ClientPopulation(TrafficGenerator& random) : random_(random)
{
    for (auto& profile : clientProfiles()) {
        Client client{std::move(profile)};
        client.pid = client.profile.name[0] ? random_.between(300, 60000) : 0;
        totalWeight_ += client.profile.weight;
        clients_.push_back(std::move(client));
    }
}

const Client& ClientPopulation::pick()
{
    auto roll = random_.next() % totalWeight_;
    for (const auto& client : clients_) {
        if (roll < client.profile.weight)
            return client;
        roll -= client.profile.weight;
    }
    return clients_.front();
}

bool ClientPopulation::hasBundle(std::string_view bundleId) const
{
    return !bundleId.empty() &&
           std::any_of(clients_.begin(), clients_.end(), [&](const Client& c) { return c.profile.bundle == bundleId; });
}

nlohmann::ordered_json ClientPopulation::processes() const
{
    auto list = nlohmann::ordered_json::array();
    for (const auto& c : clients_) {
        if (c.profile.name[0])
            list.push_back({{"processName", c.profile.name},
                            {"processIdentifier", c.pid},
                            {"bundleIdentifier", c.profile.bundle},
                            {"processPath", c.profile.path}});
    }
    return list;
}

} // namespace vd::sim
