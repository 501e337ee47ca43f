#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "data/VDRecordLists.h"
#include "data/har/HarWriter.h"
#include "platform/Bytes.h"

namespace vd {

class SerialQueue;

struct HarExportResult {
    // The file is in place; otherwise what was there is left as it was and `problem` says why.
    bool written = false;
    std::size_t entries = 0;
    std::size_t leftOut = 0;
    std::string problem;
};

// One window's records written to a HAR file without holding up the GUI thread. Records go in
// order of id, one at a time: the captured messages an entry needs are fetched through the
// window's processor (its dump store, else the service), the entry is written on the export's
// own queue, and only then does the next record's fetch begin. So memory holds one record's
// bodies whatever the count, and the file appears whole or not at all.
//
// Lives on the GUI thread; `done` runs there once. Destroying the job stops it and removes
// what it wrote.
class HarExportJob : public QObject {
public:
    using Done = std::function<void(const HarExportResult&)>;

    HarExportJob(std::string idString, TunnelList records, std::filesystem::path target, har::HarCreator creator,
                 std::chrono::milliseconds bodyPatience, QObject* parent = nullptr);
    ~HarExportJob() override;

    void start(Done done);

private:
    // The file and the writer over it: touched only on the export queue.
    struct Output;

    void nextRecord();
    void fetchResponse(std::optional<Bytes> request);
    void writeEntry(std::optional<Bytes> request, std::optional<Bytes> response);
    // Runs `task` on the export queue, then `then` back on the GUI thread, unless the job is
    // gone by then.
    void onQueue(std::function<void(Output&)> task, std::function<void(HarExportJob&)> then);
    void finish(HarExportResult result);

    const std::string idString_;
    const TunnelList records_;
    const std::filesystem::path target_;
    const har::HarCreator creator_;
    const std::chrono::milliseconds bodyPatience_;
    const std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<Output> output_;
    std::size_t next_ = 0;
    Done done_;
};

} // namespace vd
