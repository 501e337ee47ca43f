#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace vd {

// Where a search stands after a step.
struct VDFindStatus {
    // How many matches were counted; counting stops at a cap on huge content.
    qsizetype count = 0;
    // More matches exist than were counted.
    bool capped = false;
    // The current match among those counted, from 0; -1 when there is none, or when it lies
    // beyond the counted ones.
    qsizetype current = -1;
    bool found = false;
};

enum class VDFindStep {
    // The query changed, or the content did: the first match from the current one on.
    kFromHere,
    kNext,
    kPrevious,
};

// A content view that can be searched: it marks every match, selects the current one and
// scrolls it into sight. Searches ignore case.
class VDFindTarget : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual VDFindStatus find(const QString& query, VDFindStep step) = 0;
    // Removes the marks of the last search.
    virtual void clearFind() = 0;
    // The widget that shows what is searched, where focus goes back when the search ends.
    virtual QWidget* content() const = 0;

signals:
    // The searched content was replaced: earlier matches no longer mean anything.
    void contentReplaced();
};

} // namespace vd
