#pragma once

class QObject;
class QWidget;

namespace vd {

class VDFindTarget;

// The search that fits a content view: a text area, a lazy long text or a hex dump; none for
// any other view. The search belongs to `owner`.
VDFindTarget* makeFindTarget(QWidget& content, QObject& owner);

} // namespace vd
