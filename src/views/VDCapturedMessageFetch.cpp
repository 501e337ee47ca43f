#include "VDCapturedMessageFetch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "data/VDDataManager.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "platform/NotificationCenter.h"

namespace vd {
namespace {

// Lives until the first answer or the end of its patience, whichever comes first.
class CapturedMessageFetch : public QObject {
public:
    CapturedMessageFetch(QObject* context, std::function<void(std::optional<Bytes>)> done)
        : QObject(context), done_(std::move(done))
    {
    }

    void start(const std::shared_ptr<VDDataProcesser>& processer, const VDTunnelInfo& record, bool direct,
               std::chrono::milliseconds patience)
    {
        const auto store = processer->dumpManager();
        const std::int64_t id = record.id_();
        // Arrivals are posted with the centre's lock held: the store is read from the GUI thread.
        arrivals_ = NotificationCenter::defaultCenter()->addObserver(
            direct ? kDumpRequestReceive : kDumpResponseReceive, nullptr,
            [guard = QPointer(this), store, id, direct](const Notification& notification) {
                const auto* arrival = std::any_cast<VDBodyArrival>(&notification.userInfo);
                if (!arrival || arrival->manager != store.get() || arrival->id != id)
                    return;
                QMetaObject::invokeMethod(qApp, [guard, store, id, direct] {
                    if (!guard)
                        return;
                    store->readDataForRecord(id, direct, [guard](std::optional<Bytes> data) {
                        if (guard)
                            guard->finish(std::move(data));
                    });
                }, Qt::QueuedConnection);
            });
        QTimer::singleShot(patience, this, [this] { finish(std::nullopt); });
        // Nothing stored for a record the service still holds: it has been asked again, and
        // its answer comes as an arrival.
        const bool answerMayFollow = direct ? record.hasSend() : record.hasReceive();
        processer->getDumpDataOfTunnel(record, direct, [guard = QPointer(this), answerMayFollow](std::optional<Bytes> data) {
            if (guard && (data || !answerMayFollow))
                guard->finish(std::move(data));
        });
    }

private:
    void finish(std::optional<Bytes> data)
    {
        if (!done_)
            return;
        arrivals_.reset();
        const auto done = std::move(done_);
        done_ = nullptr;
        deleteLater();
        done(std::move(data));
    }

    std::function<void(std::optional<Bytes>)> done_;
    ObservationToken arrivals_;
};

} // namespace

void fetchCapturedMessage(QObject* context, const std::string& idString, std::shared_ptr<const VDTunnelInfo> record,
                          bool direct, std::chrono::milliseconds patience,
                          std::function<void(std::optional<Bytes>)> done)
{
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString);
    if (!processer) {
        done(std::nullopt);
        return;
    }
    (new CapturedMessageFetch(context, std::move(done)))->start(processer, *record, direct, patience);
}

} // namespace vd
