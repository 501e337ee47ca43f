#include "VDTunnelDetailDataView.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "VDBodyDecoding.h"
#include "VDHexDumpView.h"
#include "VDLongTextView.h"
#include "data/AtomicFile.h"
#include "data/VDDataManager.h"
#include "data/VDEditorFiles.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "platform/DispatchQueue.h"

namespace vd {
namespace {

std::shared_ptr<VDDumpDataManager> dumpStoreOf(const std::string& idString)
{
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString);
    return processer ? processer->dumpManager() : nullptr;
}

} // namespace

VDTunnelDetailDataView::VDTunnelDetailDataView(QWidget* parent)
    : VDTunnelDetailTextView(parent), hexView_(new VDHexDumpView), longTextView_(new VDLongTextView),
      exportButton_(addButton("Export as bin"))
{
    longTextView_->setFont(textView()->font());
    addContentView(hexView_);
    addContentView(longTextView_);
    connect(exportButton_, &QPushButton::clicked, this, &VDTunnelDetailDataView::exportData);
}

VDTunnelDetailDataView::~VDTunnelDetailDataView()
{
    // Waits for a delivery running on another thread; none starts afterwards.
    arrivals_.reset();
}

void VDTunnelDetailDataView::setId(const std::string& idString, std::shared_ptr<const VDTunnelInfo> tunnel, bool direct)
{
    id_ = idString;
    recId = tunnel->id_();
    info = std::move(tunnel);
    direct_ = direct;
    setText("Loading");

    // The centre delivers on the posting thread under its own lock: copy the arrival and
    // handle it on the GUI thread.
    arrivals_ = NotificationCenter::defaultCenter()->addObserver(
        direct ? kDumpRequestReceive : kDumpResponseReceive, nullptr, [this](const Notification& notification) {
            const auto* arrival = std::any_cast<VDBodyArrival>(&notification.userInfo);
            if (!arrival)
                return;
            QMetaObject::invokeMethod(this, [this, copy = *arrival] { receiveData(copy); }, Qt::QueuedConnection);
        });

    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(id_);
    if (!processer)
        return;
    processer->getDumpDataOfTunnel(*info, direct, [guard = QPointer(this)](std::optional<Bytes> data) {
        if (guard)
            guard->parserData(std::move(data));
    });
}

void VDTunnelDetailDataView::receiveData(const VDBodyArrival& arrival)
{
    // Only our own window's store and record count: another window's service numbers its
    // records independently.
    const auto store = dumpStoreOf(id_);
    if (!store || arrival.manager != store.get() || arrival.id != recId)
        return;
    store->readDataForRecord(recId, direct_, [guard = QPointer(this)](std::optional<Bytes> data) {
        if (guard)
            guard->parserData(std::move(data));
    });
}

void VDTunnelDetailDataView::parserData(std::optional<Bytes> captured)
{
    const std::uint64_t delivery = ++delivery_;
    const int parserType = direct_ ? 0 : 1;
    if (!captured || captured->size() < kBackgroundParseBytes) {
        setData(decodeBody(parserType, captured));
        return;
    }
    globalQueue()->async([guard = QPointer(this), delivery, parserType, captured = std::move(captured)]() mutable {
        auto shown = std::make_shared<VDShownBody>(decodeBody(parserType, captured));
        // The guard is only looked at back on the GUI thread, where the view lives and dies.
        QMetaObject::invokeMethod(qApp, [guard = std::move(guard), delivery, shown] {
            if (guard && guard->delivery_ == delivery)
                guard->setData(*shown);
        }, Qt::QueuedConnection);
    });
}

void VDTunnelDetailDataView::setData(const VDShownBody& shown)
{
    if (!shown.answered)
        return;
    if (!shown.body) {
        // Export writes what is shown, so nothing is kept for it either.
        storeData_.reset();
        hexView_->setBytes(nullptr);
        longTextView_->setText(QString());
        showContentView(nullptr);
        setText("No Data");
        return;
    }
    storeData_ = shown.body;
    hexView_->setBytes(nullptr);
    longTextView_->setText(QString());
    textView()->clear();
    if (!shown.text) {
        hexView_->setBytes(storeData_);
        showContentView(hexView_);
    } else if (VDLongTextView::needsLazyLayout(*shown.text)) {
        longTextView_->setText(*shown.text);
        showContentView(longTextView_);
    } else {
        showContentView(nullptr);
        textView()->setPlainText(*shown.text);
    }
}

bool VDTunnelDetailDataView::isShowingHex() const
{
    // The hex view holds bytes only while it is the one shown.
    return hexView_->lineCount() > 0;
}

std::string VDTunnelDetailDataView::shownText() const
{
    if (isShowingHex())
        return hexView_->hexString();
    if (!longTextView_->text().isEmpty())
        return longTextView_->text().toStdString();
    return VDTunnelDetailTextView::shownText();
}

void VDTunnelDetailDataView::exportData()
{
    auto* dialog = new QFileDialog(window(), QString(), QString(), QString());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->selectFile(QString::fromStdString(VDEditorFiles::timeStampFileName("bin")));
    // What is shown when the user confirms is what gets written, off the GUI thread.
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (!storeData_)
            return;
        globalQueue()->async([bytes = storeData_, path = std::filesystem::path(file.toStdString())] {
            writeFileAtomically(path, *bytes, ExistingFile::replace);
        });
    });
    dialog->open();
}

} // namespace vd
