#pragma once

class QWidget;

namespace vd {

class VDFindTarget;

// The search that fits a content view: a text area, a lazy long text, a hex dump or a flat
// table; none for any other view. The search is a child of the view, so it goes when the view does.
VDFindTarget* makeFindTarget(QWidget& content);

} // namespace vd
