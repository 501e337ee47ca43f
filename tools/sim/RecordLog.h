#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "HttpExchange.h"
#include "TrafficModel.h"

namespace vd::sim {

// A closed tunnel as the record log keeps it: its final text and what was captured.
struct Record {
    std::int64_t id = 0;
    std::int64_t place = 0;
    std::string text;
    std::shared_ptr<const Exchange> exchange;
    bool hasReceive = false;
};

// The newest TrafficModel::kRecentLimit records, in the order of their places.
class RecordLog {
public:
    void add(Record record);
    std::size_t size() const { return records_.size(); }
    // The texts in the range, oldest first, separated by commas.
    std::string texts(const TrafficModel::RecentRange& range) const;
    // The newest record of the tunnel; none when the log no longer holds it.
    const Record* find(std::int64_t id) const;

private:
    std::deque<Record> records_;
};

} // namespace vd::sim
