#include "UnchangedRecords.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "VDTunnelInfo.h"

namespace vd {
namespace {

// A lookup follows at most this many occupied slots: a hostile report of thousands of texts
// alike in every sampled place costs a few parses more, never a search through them all.
constexpr std::size_t kMaxProbes = 32;
constexpr std::size_t kSampledWords = 5;

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb33fa0b94e53ULL;
    h ^= h >> 33;
    return h;
}

// The length and a few words spread over the text: enough to tell tunnels apart, at a cost
// that does not grow with the text. The index only finds candidates; a match is always
// confirmed by comparing the whole text.
std::uint64_t fingerprintOf(std::string_view text)
{
    const std::size_t size = text.size();
    std::uint64_t h = mix(size);
    if (size == 0)
        return h;
    // Texts open alike (a brace and the same first key), so no word is taken from their start.
    for (std::size_t part = 1; part <= kSampledWords; ++part) {
        const std::size_t at = size > 8 ? (size - 8) * part / kSampledWords : 0;
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + at, std::min<std::size_t>(8, size - at));
        h = mix(h ^ word);
    }
    return h;
}

bool sameText(const VDTunnelInfo& record, std::string_view text)
{
    const std::string_view held = record.escapedText();
    return held.size() == text.size() && std::memcmp(held.data(), text.data(), text.size()) == 0;
}

} // namespace

void UnchangedRecords::beginReport(double initTime)
{
    matching_ = !previous_.records.empty() && initTime == previous_.initTime;
    current_.initTime = initTime;
    cursor_ = 0;
    indexed_ = false;
    taken_.assign(matching_ ? previous_.records.size() : 0, 0);
    current_.records.clear();
    current_.fingerprints.clear();
}

std::shared_ptr<const VDTunnelInfo> UnchangedRecords::recordOf(std::string_view text, const Make& make)
{
    std::optional<std::uint64_t> fingerprint;
    auto record = take(text, fingerprint);
    if (!record)
        record = make(text);
    if (record) {
        current_.records.push_back(record);
        // Taken now if not known yet: a text just parsed is in the cache.
        current_.fingerprints.push_back(fingerprint ? *fingerprint : fingerprintOf(text));
    }
    return record;
}

std::shared_ptr<const VDTunnelInfo> UnchangedRecords::take(std::string_view text, std::optional<std::uint64_t>& fingerprint)
{
    if (!matching_)
        return nullptr;
    if (cursor_ < previous_.records.size()) {
        // A tunnel most likely stands in its old place, so its old text is compared at once: a
        // text read from start to end streams through the cache, where the few words of a
        // fingerprint would each miss it. A changed text is expected there too: the next one is
        // looked for after it either way.
        const std::size_t index = cursor_++;
        if (!taken_[index] && sameText(*previous_.records[index], text)) {
            taken_[index] = 1;
            fingerprint = previous_.fingerprints[index];
            return previous_.records[index];
        }
    }
    fingerprint = fingerprintOf(text);
    return takeFromIndex(text, *fingerprint);
}

std::shared_ptr<const VDTunnelInfo> UnchangedRecords::takeAt(std::size_t index, std::string_view text, std::uint64_t fingerprint)
{
    if (taken_[index] || previous_.fingerprints[index] != fingerprint || !sameText(*previous_.records[index], text))
        return nullptr;
    taken_[index] = 1;
    return previous_.records[index];
}

void UnchangedRecords::buildIndex()
{
    indexed_ = true;
    const std::size_t count = previous_.records.size();
    // At most half full, so a lookup ends at an empty slot after a few steps.
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(16, count * 2));
    slots_.assign(size, 0);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t probe = 0, slot = previous_.fingerprints[i] & (size - 1); probe < kMaxProbes;
             ++probe, slot = (slot + 1) & (size - 1)) {
            if (slots_[slot] == 0) {
                slots_[slot] = static_cast<std::uint32_t>(i + 1);
                break;
            }
        }
    }
}

std::shared_ptr<const VDTunnelInfo> UnchangedRecords::takeFromIndex(std::string_view text, std::uint64_t fingerprint)
{
    if (!indexed_)
        buildIndex();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t probe = 0, slot = fingerprint & mask; probe < kMaxProbes && slots_[slot] != 0;
         ++probe, slot = (slot + 1) & mask) {
        const std::size_t index = slots_[slot] - 1;
        if (auto record = takeAt(index, text, fingerprint)) {
            cursor_ = index + 1;
            return record;
        }
    }
    return nullptr;
}

void UnchangedRecords::abandonReport()
{
    current_.records.clear();
    current_.fingerprints.clear();
}

void UnchangedRecords::endReport()
{
    std::swap(previous_, current_);
    current_.records.clear();
}

} // namespace vd
