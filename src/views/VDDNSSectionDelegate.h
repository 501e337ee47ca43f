#pragma once

#include <cstdint>

namespace vd {

// What the DNS type sidebar asks of the section it sits in (its `delegate`).
class VDDNSSectionDelegate {
public:
    virtual ~VDDNSSectionDelegate() = default;
    // 0 all types, 1 configured, 2 hosts file, 3 dynamic.
    virtual void selectDNSType(std::uint64_t type) = 0;
};

} // namespace vd
