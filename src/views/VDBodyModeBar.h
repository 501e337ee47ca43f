#pragma once

#include <vector>

#include <QWidget>

#include "VDBodyModes.h"

class QButtonGroup;

namespace vd {

// The small switch above a body: one button per mode that applies to it ("Raw", "Decoded",
// "Pretty", "Image"). It stays out of sight while Raw is all there is, so such a body looks as
// it always did.
class VDBodyModeBar : public QWidget {
    Q_OBJECT
public:
    explicit VDBodyModeBar(QWidget* parent = nullptr);

    void setModes(const std::vector<VDBodyMode>& modes, VDBodyMode shown);
    static QString titleOf(VDBodyMode mode);

signals:
    // The user chose a mode.
    void modeChosen(VDBodyMode mode);

private:
    QButtonGroup* buttons_;
};

} // namespace vd
