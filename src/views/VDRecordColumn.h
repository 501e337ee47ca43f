#pragma once

#include "VDTableCellView.h"

namespace vd {

// One column of a record table (tunnels, DNS, UDP): how it is named, sized, sorted and drawn.
struct VDRecordColumn {
    const char* identifier;
    const char* title;
    int width;
    // The narrowest the user may make it; 0 when the column cannot be resized at all.
    int minimumWidth;
    bool sortable;
    VDTableCellView::Layout layout;
    // What a text too long for the column does: cut off at its end, wrap over as many lines as
    // the column's width needs, or lose its middle (hosts, whose both ends tell them apart).
    VDTableCellView::Overflow overflow;
    // Offered in the column menu but not shown until the user asks for it.
    bool hiddenByDefault = false;
};

} // namespace vd
