#pragma once

#include <string>

#include "data/VDListGenerations.h"
#include "data/VDRecordLists.h"

namespace vd {

class VDDataProcesser;

// What tells the active-connections section from the recent-requests one, for the sidebar, the
// split views and the tool strips: which of the processor's lists and client filter they use,
// which notification reloads them, and where their layout is remembered.
struct VDTunnelVariant {
    // The section's name, as the section switch shows it; screen readers announce the list by it.
    const char* title;
    const char* refreshNotification;
    // The processor's list the section shows, with its clients.
    VDListGenerations::Part list;
    ProcessList (VDDataProcesser::*localProcess)() const;
    ProcessList (VDDataProcesser::*remoteProcess)() const;
    std::string (VDDataProcesser::*filterBundleId)() const;
    void (VDDataProcesser::*setFilterBundleId)(std::string);
    // What "Reload" asks of the processor.
    void (VDDataProcesser::*reloadTunnels)();
    // What "Clean" asks of it; null where the section has no such button.
    void (VDDataProcesser::*cleanRecord)();
    // The name the sidebar / tunnel-area split is remembered under.
    const char* splitAutosaveName;
    // The name the table's columns (widths, shown ones, sort) are remembered under.
    const char* tableAutosaveName;

    static const VDTunnelVariant& current();
    static const VDTunnelVariant& recent();
};

} // namespace vd
