#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RecordLog.h"

namespace vd::sim {

inline constexpr const char* kGalleryHost = "gallery.test";

// One body of the gallery: how the server announced it and the bytes it sent, besides what
// those bytes mean once decoded (empty where decoding must fail).
struct GalleryBody {
    std::string name; // also the last part of its path, /gallery/NAME
    std::string headerLines;
    std::string wire;
    std::string plain;
};

// Every coding of JSON and HTML, a PNG, a gzip bomb that inflates past 256 MiB, a gzip cut
// short, a form, and JSON that does not parse; in this order, made once (the bomb takes a
// moment) and the same in every run.
const std::vector<GalleryBody>& bodyGallery();

// One completed, captured HTTP tunnel per gallery body, closed at `now`, numbered from
// `nextNumber` on (ids and places alike, as the traffic numbers them). Drawn from a generator
// of their own, so the traffic after them is what it would have been without them.
std::vector<Record> galleryRecords(std::int64_t& nextNumber, std::int64_t now);

} // namespace vd::sim
