#include "HarExportJob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QCoreApplication>
#include <QPointer>

#include "data/AtomicFile.h"
#include "data/VDTunnelInfo.h"
#include "platform/DispatchQueue.h"
#include "views/VDCapturedMessageFetch.h"

namespace vd {

// Only one task of the export runs at a time (each step starts the next), so the GUI thread
// may read `result` once a step has reported back.
struct HarExportJob::Output {
    std::unique_ptr<AtomicFileWriter> file;
    std::unique_ptr<har::HarWriter> writer;
    HarExportResult result;

    // Drops the file (and with it what was written) after a failure.
    void fail()
    {
        result.problem = std::strerror(errno);
        writer.reset();
        file.reset();
    }
};

namespace {

TunnelList byId(TunnelList records)
{
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a->id_() < b->id_(); });
    return records;
}

std::span<const std::uint8_t> bytesOf(const std::optional<Bytes>& message)
{
    return message ? std::span<const std::uint8_t>(*message) : std::span<const std::uint8_t>();
}

} // namespace

HarExportJob::HarExportJob(std::string idString, TunnelList records, std::filesystem::path target, har::HarCreator creator,
                           std::chrono::milliseconds bodyPatience, QObject* parent)
    : QObject(parent), idString_(std::move(idString)), records_(byId(std::move(records))), target_(std::move(target)),
      creator_(std::move(creator)), bodyPatience_(bodyPatience), queue_(SerialQueue::create("VD.HarExport.Queue")),
      output_(std::make_shared<Output>())
{
}

HarExportJob::~HarExportJob()
{
    // An unfinished file is removed with its writer, on the queue like all its work.
    queue_->async([output = std::move(output_)] {});
}

void HarExportJob::start(Done done)
{
    done_ = std::move(done);
    onQueue(
        [target = target_, creator = creator_](Output& output) {
            output.file = AtomicFileWriter::create(target);
            if (!output.file) {
                output.fail();
                return;
            }
            output.writer = std::make_unique<har::HarWriter>(output.file->stream(), creator);
        },
        [](HarExportJob& job) {
            if (job.output_->file)
                job.nextRecord();
            else
                job.finish(job.output_->result);
        });
}

void HarExportJob::nextRecord()
{
    if (next_ == records_.size()) {
        onQueue(
            [](Output& output) {
                output.writer->finish();
                output.result.entries = output.writer->entriesWritten();
                output.result.leftOut = output.writer->recordsLeftOut();
                output.result.written = output.file->commit();
                if (!output.result.written)
                    output.fail();
                output.writer.reset();
                output.file.reset();
            },
            [](HarExportJob& job) { job.finish(job.output_->result); });
        return;
    }
    const auto& record = records_[next_];
    if (!har::HarWriter::wantsRequestMessage(*record)) {
        fetchResponse(std::nullopt);
        return;
    }
    fetchCapturedMessage(this, idString_, record, true, bodyPatience_,
                         [this](std::optional<Bytes> request) { fetchResponse(std::move(request)); });
}

void HarExportJob::fetchResponse(std::optional<Bytes> request)
{
    const auto& record = records_[next_];
    if (!har::HarWriter::wantsResponseMessage(*record)) {
        writeEntry(std::move(request), std::nullopt);
        return;
    }
    fetchCapturedMessage(this, idString_, record, false, bodyPatience_,
                         [this, request = std::move(request)](std::optional<Bytes> response) mutable {
                             writeEntry(std::move(request), std::move(response));
                         });
}

void HarExportJob::writeEntry(std::optional<Bytes> request, std::optional<Bytes> response)
{
    onQueue(
        [record = records_[next_], request = std::move(request), response = std::move(response)](Output& output) {
            output.writer->add(*record, {bytesOf(request), bytesOf(response)});
            if (!output.file->stream())
                output.fail();
        },
        [](HarExportJob& job) {
            if (!job.output_->file) {
                job.finish(job.output_->result);
                return;
            }
            ++job.next_;
            job.nextRecord();
        });
}

void HarExportJob::onQueue(std::function<void(Output&)> task, std::function<void(HarExportJob&)> then)
{
    queue_->async([output = output_, task = std::move(task), guard = QPointer(this), then = std::move(then)]() mutable {
        task(*output);
        // The guard is only looked at back on the GUI thread, where the job lives and dies.
        QMetaObject::invokeMethod(qApp, [guard = std::move(guard), then = std::move(then)] {
            if (guard)
                then(*guard);
        }, Qt::QueuedConnection);
    });
}

void HarExportJob::finish(HarExportResult result)
{
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

} // namespace vd
