#include "VDTunnelDetailGeneralView.h"

#include <QGridLayout>

#include "VDQuantityTexts.h"
#include "VDSectionView.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUtils.h"

namespace vd {
namespace {

constexpr int kSpacing = 5;

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

VDTunnelDetailGeneralView::VDTunnelDetailGeneralView(QWidget* parent)
    : QWidget(parent), httpSection_(new VDSectionView), bandwidthSection_(new VDSectionView),
      policySection_(new VDSectionView), otherSection_(new VDSectionView), trafficSection_(new VDSectionView),
      speedSection_(new VDSectionView), ipSection_(new VDSectionView)
{
    // Twelve columns, so four boxes of three and three boxes of four share the width evenly.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(kSpacing);
    int column = 0;
    for (auto* section : {httpSection_, bandwidthSection_, policySection_, otherSection_}) {
        grid->addWidget(section, 0, column, 1, 3);
        column += 3;
    }
    column = 0;
    for (auto* section : {trafficSection_, speedSection_, ipSection_}) {
        grid->addWidget(section, 1, column, 1, 4);
        column += 4;
    }
    for (int i = 0; i < 12; ++i)
        grid->setColumnStretch(i, 1);
    grid->setRowStretch(2, 1);
}

void VDTunnelDetailGeneralView::setTunnelInfo(const VDTunnelInfo& info)
{
    const std::int64_t code = info.code();
    httpSection_->setTitle("HTTP", "Method", qs(info.method()), "Code", code == -1 ? QString("--") : QString::number(code));
    bandwidthSection_->setTitle("Max Speed", "Upload", speedText(info.tx_max_speed()), "Download", speedText(info.rx_max_speed()));
    if (info.outboundMode() == "RULE MODE")
        policySection_->setTitle("Policy", "Rule", qs(info.ruleInfo()), "Policy", qs(info.policyName()));
    else
        policySection_->setTitle("Policy", "Outbound", qs(info.outboundMode()), "Policy", qs(info.policyName()));
    otherSection_->setTitle("Other", "Host", qs(info.host()), "Start Time",
                            qs(VDUtils::formatTunnelStartTimeWithData(info.startTime())));
    trafficSection_->setTitle("Bandwidth", "Upload", sizeText(info.tx()), "Download", sizeText(info.rx()));
    speedSection_->setTitle(info.status() == TunnelStatus::active ? "Speed" : "Average Speed", "Upload", speedText(info.tx_speed()), "Download",
                            speedText(info.rx_speed()));
    ipSection_->setTitle("IP", "Local", qs(info.fromHost()), "Remote", info.toHost().empty() ? QString("--") : qs(info.toHost()));
}

} // namespace vd
