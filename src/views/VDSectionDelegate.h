#pragma once

#include <string>

namespace vd {

// What a client sidebar asks of the split view it sits in (its `delegate`): the user chose a
// client, so the section's client filter changes to it.
class VDSectionDelegate {
public:
    virtual ~VDSectionDelegate() = default;
    virtual void selectProcessName(const std::string& processName, const std::string& bundleId) = 0;
};

} // namespace vd
