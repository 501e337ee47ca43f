#pragma once

namespace vd {

// What a tool strip asks of the split view it sits in (its `delegate`): the switches' states
// as the processor last heard them, and the clicks turned into processor calls.
class VDToolStripDelegate {
public:
    virtual ~VDToolStripDelegate() = default;
    virtual void collapseDetail() = 0;
    virtual void cleanRecord() = 0;
    virtual void reloadTunnels() = 0;
    virtual bool trafficRecordState() const = 0;
    virtual void enableTrafficRecord(bool on) = 0;
    virtual bool mitemState() const = 0;
    virtual void enableMitM(bool on) = 0;
};

} // namespace vd
