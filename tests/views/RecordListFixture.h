#pragma once

#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/VDDataManager.h"
#include "integration/SimHarness.h"
#include "TunnelRecords.h"
#include "WindowProcesserTest.h"

namespace vd::test {

using namespace std::chrono_literals;

// The commands of this kind the service has received so far, in order.
inline std::vector<nlohmann::json> receivedCommands(SimHarness& sim, contract::Command cmd)
{
    std::vector<nlohmann::json> found;
    for (const auto& packet : sim.received()) {
        if (packet.value("t", std::uint64_t{0}) == contract::numberOf(cmd))
            found.push_back(packet);
    }
    return found;
}

// A window's processor fed reports directly or connected to the simulated service.
class RecordListFixture : public WindowProcesserTest {
protected:
    void feed(contract::Command cmd, QNComPacket::Dictionary data)
    {
        processer->processPacket(servicePacket(cmd, std::move(data)));
        settle();
    }
};

// The same, connected to the simulated service over its local socket.
class RecordListServiceFixture : public RecordListFixture {
protected:
    // Zero: the service's time stands still, so its tables change only by commands.
    explicit RecordListServiceFixture(std::chrono::milliseconds tick) : sim_(options(dir_, tick)) {}

    static sim::SimulatorOptions options(const TempDir& dir, std::chrono::milliseconds tick)
    {
        sim::SimulatorOptions options;
        options.socketPath = dir / "db.connect";
        options.tickInterval = tick;
        return options;
    }
    void SetUp() override
    {
        processer->connectToSocketPath((dir_ / "db.connect").string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return processer->connectStatus() == ConnectStatus::connected; }, 5000));
    }
    void TearDown() override { processer->disconnect(); }

    std::vector<nlohmann::json> commands(contract::Command cmd) { return receivedCommands(sim_, cmd); }
    // The last push switch of this command the service received; null when none arrived.
    nlohmann::json lastSwitch(contract::Command cmd)
    {
        const auto found = commands(cmd);
        return found.empty() ? nlohmann::json() : found.back()["d"]["switch"];
    }

    TempDir dir_;
    SimHarness sim_;
};

} // namespace vd::test
