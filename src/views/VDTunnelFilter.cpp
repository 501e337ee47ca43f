#include "VDTunnelFilter.h"

#include <algorithm>

#include <QString>

#include "data/VDTunnelInfo.h"

namespace vd {
namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isMark(QChar c)
{
    const auto category = c.category();
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining || category == QChar::Mark_Enclosing;
}

void appendFolded(std::string& out, std::string_view text)
{
    if (isAscii(text)) {
        const std::size_t start = out.size();
        out.resize(start + text.size());
        std::transform(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(start),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        return;
    }
    // Decomposed, a letter with an accent is the letter followed by marks, which are dropped.
    QString decomposed = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).normalized(QString::NormalizationForm_D);
    decomposed.removeIf(isMark);
    out += decomposed.toCaseFolded().toStdString();
}

} // namespace

std::string foldForSearch(std::string_view text)
{
    std::string folded;
    appendFolded(folded, text);
    return folded;
}

void VDTunnelFilter::foldHostsOf(const TunnelList& all)
{
    std::size_t shared = 0;
    const std::size_t common = std::min(all.size(), records_.size());
    while (shared < common && all[shared] == records_[shared])
        ++shared;
    records_.resize(shared);
    ends_.resize(shared);
    hosts_.resize(shared == 0 ? 0 : ends_.back());
    records_.reserve(all.size());
    ends_.reserve(all.size());
    for (std::size_t row = shared; row < all.size(); ++row) {
        records_.push_back(all[row]);
        appendFolded(hosts_, all[row]->host());
        ends_.push_back(static_cast<std::uint32_t>(hosts_.size()));
    }
}

void VDTunnelFilter::release()
{
    records_ = {};
    hosts_ = {};
    ends_ = {};
}

template <typename Use>
void VDTunnelFilter::forEachRowContaining(std::string_view needle, Use use) const
{
    if (needle.empty()) {
        for (std::size_t row = 0; row < ends_.size(); ++row)
            use(row);
        return;
    }
    // One search through all hosts rather than one per host: a keystroke usually keeps few rows.
    const std::string_view hosts(hosts_);
    std::size_t row = 0;
    for (std::size_t found = hosts.find(needle); found != std::string_view::npos && row < ends_.size();) {
        row = static_cast<std::size_t>(std::upper_bound(ends_.begin() + static_cast<std::ptrdiff_t>(row), ends_.end(), found) - ends_.begin());
        // A match running on into the next host is none; no later one in this host can end inside it.
        if (found + needle.size() <= ends_[row])
            use(row);
        found = ++row < ends_.size() ? hosts.find(needle, ends_[row - 1]) : std::string_view::npos;
    }
}

TunnelList VDTunnelFilter::apply(const TunnelList& all, std::string_view filterString, std::string_view bundleId)
{
    const bool byClient = bundleId != kAllClients;
    TunnelList kept;
    if (filterString.empty()) {
        release();
        if (!byClient)
            return all;
        std::copy_if(all.begin(), all.end(), std::back_inserter(kept),
                     [&](const auto& t) { return t->bundleIdentifier() == bundleId; });
        return kept;
    }
    foldHostsOf(all);
    forEachRowContaining(foldForSearch(filterString), [&](std::size_t row) {
        if (!byClient || all[row]->bundleIdentifier() == bundleId)
            kept.push_back(all[row]);
    });
    return kept;
}

} // namespace vd
