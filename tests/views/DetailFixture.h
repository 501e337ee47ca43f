#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/VDTunnelInfo.h"
#include "support/TempDir.h"
#include "views/VDTunnelDetailDataView.h"

namespace vd::test {

// Caches, editors and desktop entries of the detail tests live in a folder of this program's
// own: the PATH names only its "bin" folder, where a test puts stand-in editors.
class DetailEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        std::filesystem::create_directories(bin());
        std::filesystem::create_directories(root() / "share");
        setenv("XDG_CACHE_HOME", caches().c_str(), 1);
        setenv("XDG_DATA_HOME", (root() / "share").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root() / "share").c_str(), 1);
        setenv("PATH", bin().c_str(), 1);
    }
    static std::filesystem::path bin() { return root() / "bin"; }
    static std::filesystem::path caches() { return root() / "caches"; }

private:
    static const std::filesystem::path& root()
    {
        static TempDir dir;
        return dir.path();
    }
};

// Registered once for the whole detail test program, whichever of its files include this.
inline const auto* const detailEnvironment = testing::AddGlobalTestEnvironment(new DetailEnvironment);

// A stand-in editor on the PATH that writes its arguments, one a line, to "<name>.args";
// removed again when it goes away.
class FakeEditor {
public:
    explicit FakeEditor(std::string name) : path_(DetailEnvironment::bin() / name)
    {
        std::ofstream(path_) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" << argsFile().string() << ".tmp\"\n/bin/mv \""
                             << argsFile().string() << ".tmp\" \"" << argsFile().string() << "\"\n";
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    }
    ~FakeEditor()
    {
        std::filesystem::remove(path_);
        std::filesystem::remove(argsFile());
    }
    FakeEditor(const FakeEditor&) = delete;
    FakeEditor& operator=(const FakeEditor&) = delete;

    std::filesystem::path argsFile() const { return path_.string() + ".args"; }

private:
    std::filesystem::path path_;
};

// A body view on screen, fed directly, with a folder for what it writes.
class DataViewTest : public testing::Test {
protected:
    DataViewTest()
    {
        view.resize(700, 400);
        view.show();
    }
    VDTunnelDetailDataView view;
    TempDir dir;
};

// A tunnel record from a service-like JSON text; `fields` replace or add keys.
inline std::shared_ptr<const VDTunnelInfo> detailRecord(const nlohmann::json& fields = nlohmann::json::object())
{
    nlohmann::json text = {{"id", 7},          {"endId", 7},         {"type", 1},           {"t_start", 10.0},
                           {"t_end", 11.5},    {"host", "api.example.com"}, {"port", 80},   {"processName", "Mail"},
                           {"bundleIdentifier", ""}, {"fromHost", "10.0.0.5"}, {"fromPort", 50123}, {"ipAddr", "93.184.216.34"},
                           {"outboundMode", "RULE MODE"}, {"ruleInfo", "DOMAIN-SUFFIX,example.com"}, {"policyName", "Proxy"},
                           {"responseCode", "200"}, {"tx", 2048}, {"rx", 3 * 1024 * 1024}, {"tx_speed", 100}, {"rx_speed", 2048},
                           {"tx_max_speed", 400}, {"rx_max_speed", 8192}};
    text.update(fields);
    return VDTunnelInfo::initWithJSONString(text.dump(), 1.7e9);
}

} // namespace vd::test
