#include "VDTunnelFilter.h"

#include <algorithm>
#include <functional>

#include <QString>

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

} // namespace

std::string foldForSearch(std::string_view text)
{
    if (isAscii(text)) {
        std::string lowered(text);
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        return lowered;
    }
    // Decomposed, a letter with an accent is the letter followed by marks, which are dropped.
    QString decomposed = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).normalized(QString::NormalizationForm_D);
    decomposed.removeIf(isMark);
    return decomposed.toCaseFolded().toStdString();
}

const std::string& VDTunnelFilter::foldedHostOf(const VDTunnelInfo& tunnel)
{
    const std::size_t hash = std::hash<std::string_view>{}(tunnel.host());
    auto [it, added] = folded_.try_emplace(tunnel.id_());
    Folded& entry = it->second;
    // Ids start again when the service restarts: the host tells a new tunnel from the old one.
    if (added || entry.hostHash != hash) {
        entry.hostHash = hash;
        entry.host = foldForSearch(tunnel.host());
    }
    entry.seen = generation_;
    return entry.host;
}

void VDTunnelFilter::forgetUnseen(std::size_t reported)
{
    if (folded_.size() <= 2 * reported + 1024)
        return;
    std::erase_if(folded_, [&](const auto& entry) { return entry.second.seen != generation_; });
}

TunnelList VDTunnelFilter::apply(const TunnelList& all, std::string_view filterString, std::string_view bundleId)
{
    const bool byClient = bundleId != kAllClients;
    TunnelList kept;
    if (filterString.empty()) {
        if (!byClient)
            return all;
        std::copy_if(all.begin(), all.end(), std::back_inserter(kept),
                     [&](const auto& t) { return t->bundleIdentifier() == bundleId; });
        return kept;
    }
    ++generation_;
    const std::string needle = foldForSearch(filterString);
    for (const auto& tunnel : all) {
        if (byClient && tunnel->bundleIdentifier() != bundleId)
            continue;
        if (foldedHostOf(*tunnel).find(needle) != std::string::npos)
            kept.push_back(tunnel);
    }
    forgetUnseen(all.size());
    return kept;
}

} // namespace vd
