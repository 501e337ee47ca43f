#pragma once

#include <filesystem>

#include "SimHarness.h"
#include "UsbmuxSimulator.h"

namespace vd::test {

// The usbmuxd simulator on a thread of its own. Its device calls may come from any thread.
class UsbmuxHarness : SimulatorThread {
public:
    explicit UsbmuxHarness(const std::filesystem::path& socketPath) : simulator(context_, socketPath)
    {
        start(simulator);
    }
    // Its connections end before the thread does.
    ~UsbmuxHarness() { end([this] { simulator.stop(); }, true); }

    sim::UsbmuxSimulator simulator;
};

} // namespace vd::test
