#include "VDFindTargets.h"

#include <QAbstractItemView>
#include <QPlainTextEdit>

#include "VDHexDumpView.h"
#include "VDHexFindTarget.h"
#include "VDItemViewFindTarget.h"
#include "VDLongTextFindTarget.h"
#include "VDLongTextView.h"
#include "VDTextEditFindTarget.h"

namespace vd {

VDFindTarget* makeFindTarget(QWidget& content)
{
    if (auto* hex = qobject_cast<VDHexDumpView*>(&content))
        return new VDHexFindTarget(*hex);
    if (auto* text = qobject_cast<VDLongTextView*>(&content))
        return new VDLongTextFindTarget(*text);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(&content))
        return new VDTextEditFindTarget(*edit);
    if (auto* table = qobject_cast<QAbstractItemView*>(&content))
        return new VDItemViewFindTarget(*table);
    return nullptr;
}

} // namespace vd
