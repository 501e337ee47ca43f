#include "VDFindTargets.h"

#include <QPlainTextEdit>

#include "VDHexDumpView.h"
#include "VDHexFindTarget.h"
#include "VDLongTextFindTarget.h"
#include "VDLongTextView.h"
#include "VDTextEditFindTarget.h"

namespace vd {

VDFindTarget* makeFindTarget(QWidget& content, QObject& owner)
{
    if (auto* hex = qobject_cast<VDHexDumpView*>(&content))
        return new VDHexFindTarget(*hex, &owner);
    if (auto* text = qobject_cast<VDLongTextView*>(&content))
        return new VDLongTextFindTarget(*text, &owner);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(&content))
        return new VDTextEditFindTarget(*edit, &owner);
    return nullptr;
}

} // namespace vd
