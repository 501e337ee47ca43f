#include "VDTunnelDetailDataView.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QTreeWidget>

#include "VDBodyModeBar.h"
#include "VDHexDumpView.h"
#include "VDJsonColours.h"
#include "VDLongTextView.h"
#include "VDUserDefaults.h"
#include "data/AtomicFile.h"
#include "data/VDDataManager.h"
#include "data/VDEditorFiles.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "platform/DispatchQueue.h"

namespace vd {
namespace {

// The mode last chosen by the user, for every body view.
const char* const kModeKey = "com.lumenforge.vantordashboard.bodyview.mode";

std::shared_ptr<VDDumpDataManager> dumpStoreOf(const std::string& idString)
{
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString);
    return processer ? processer->dumpManager() : nullptr;
}

VDBodyMode rememberedMode()
{
    const int mode = userDefaults()->value(kModeKey, static_cast<int>(VDBodyMode::raw)).toInt();
    return mode >= 0 && mode <= static_cast<int>(VDBodyMode::image) ? static_cast<VDBodyMode>(mode) : VDBodyMode::raw;
}

// Works out the bytes to write, off the GUI thread.
using BytesWork = std::function<std::shared_ptr<const Bytes>()>;

// Asks where to save, and once the user confirms, takes the work for what is shown then and
// writes its bytes to that file in one atomic write.
void saveAs(QWidget* parent, std::function<BytesWork()> workAtConfirm)
{
    auto* dialog = new QFileDialog(parent->window(), QString(), QString(), QString());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->selectFile(QString::fromStdString(VDEditorFiles::timeStampFileName("bin")));
    QObject::connect(dialog, &QFileDialog::fileSelected, parent, [workAtConfirm = std::move(workAtConfirm)](const QString& file) {
        globalQueue()->async([bytes = workAtConfirm(), path = std::filesystem::path(file.toStdString())] {
            if (const auto data = bytes())
                writeFileAtomically(path, *data, ExistingFile::replace);
        });
    });
    dialog->open();
}

} // namespace

VDTunnelDetailDataView::VDTunnelDetailDataView(QWidget* parent)
    : VDTunnelDetailTextView(parent), modeBar_(new VDBodyModeBar), note_(new QLabel), hexView_(new VDHexDumpView),
      longTextView_(new VDLongTextView), formTable_(new QTreeWidget), imageArea_(new QScrollArea),
      imageLabel_(new QLabel), exportButton_(addButton("Export as bin")), exportDecodedButton_(addButton("Export Decoded…"))
{
    longTextView_->setFont(textView()->font());
    note_->setContentsMargins(6, 2, 6, 2);
    note_->setWordWrap(true);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_->hide();
    formTable_->setHeaderLabels({"Key", "Value"});
    formTable_->setRootIsDecorated(false);
    formTable_->setAccessibleName("Form fields");
    formTable_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    imageLabel_->setAlignment(Qt::AlignCenter);
    imageArea_->setWidget(imageLabel_);
    imageArea_->setWidgetResizable(true);
    imageArea_->setAccessibleName("Image");
    addAboveContent(modeBar_);
    addAboveContent(note_);
    addContentView(hexView_);
    addContentView(longTextView_);
    addContentView(formTable_);
    addContentView(imageArea_);
    exportDecodedButton_->hide();
    connect(exportButton_, &QPushButton::clicked, this, &VDTunnelDetailDataView::exportData);
    connect(exportDecodedButton_, &QPushButton::clicked, this, &VDTunnelDetailDataView::exportDecoded);
    connect(modeBar_, &VDBodyModeBar::modeChosen, this, &VDTunnelDetailDataView::chooseMode);
    // Tab walks top to bottom: the switch, then the body it shows.
    QWidget::setTabOrder(modeBar_->findChildren<QToolButton*>().constLast(), textView());
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
    ++contentRequest_;
    shown_ = shown;
    // Export writes what is shown, so with nothing shown nothing is kept for it either.
    storeData_ = shown.body;
    modes_ = applicableModes({shown.body, shown.contentType, shown.contentEncoding});
    exportDecodedButton_->setVisible(std::ranges::find(modes_, VDBodyMode::decoded) != modes_.end());
    const VDBodyMode wanted = rememberedMode();
    showMode(std::ranges::find(modes_, wanted) != modes_.end() ? wanted : VDBodyMode::raw);
}

void VDTunnelDetailDataView::chooseMode(VDBodyMode mode)
{
    userDefaults()->setValue(kModeKey, static_cast<int>(mode));
    if (std::ranges::find(modes_, mode) == modes_.end())
        mode = VDBodyMode::raw;
    if (mode != shownMode_)
        showMode(mode);
}

void VDTunnelDetailDataView::clearContent()
{
    delete highlighter_;
    highlighter_ = nullptr;
    note_->clear();
    note_->hide();
    hexView_->setBytes(nullptr);
    longTextView_->setText(QString());
    longTextView_->setColouring(nullptr);
    formTable_->clear();
    imageLabel_->clear();
    textView()->clear();
    showContentView(nullptr);
}

void VDTunnelDetailDataView::showMode(VDBodyMode mode)
{
    const std::uint64_t request = ++contentRequest_;
    shownMode_ = mode;
    modeBar_->setModes(modes_, mode);
    clearContent();
    if (mode == VDBodyMode::raw) {
        showRaw();
        return;
    }
    setText("Loading");
    globalQueue()->async([guard = QPointer(this), request, mode, facts = VDBodyFacts{shown_.body, shown_.contentType, shown_.contentEncoding}] {
        auto content = std::make_shared<VDModeContent>(contentOf(mode, facts));
        QMetaObject::invokeMethod(qApp, [guard, request, content] {
            if (guard && guard->contentRequest_ == request)
                guard->showContent(*content);
        }, Qt::QueuedConnection);
    });
}

void VDTunnelDetailDataView::showRaw()
{
    if (!shown_.body) {
        setText("No Data");
        return;
    }
    if (!shown_.text) {
        hexView_->setBytes(shown_.body);
        showContentView(hexView_);
    } else {
        showText(*shown_.text, shown_.lines, false);
    }
}

void VDTunnelDetailDataView::showText(const QString& text, std::shared_ptr<const VDLongTextView::Lines> lines, bool json)
{
    if (lines) {
        if (json)
            longTextView_->setColouring([palette = palette()](QStringView line) { return jsonLineColours(line, palette); });
        longTextView_->setText(text, std::move(lines));
        showContentView(longTextView_);
        return;
    }
    showContentView(nullptr);
    if (json)
        highlighter_ = new VDJsonHighlighter(textView()->document(), palette());
    textView()->setPlainText(text);
}

void VDTunnelDetailDataView::showContent(const VDModeContent& content)
{
    clearContent();
    note_->setText(content.note);
    note_->setVisible(!content.note.isEmpty());
    if (!content.formFields.empty()) {
        for (const auto& [key, value] : content.formFields)
            formTable_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(key), QString::fromStdString(value)}));
        showContentView(formTable_);
    } else if (!content.image.isNull()) {
        imageLabel_->setPixmap(QPixmap::fromImage(content.image));
        showContentView(imageArea_);
    } else if (content.text) {
        showText(*content.text, content.lines, content.json);
    } else if (content.hex) {
        hexView_->setBytes(content.hex);
        showContentView(hexView_);
    }
}

QString VDTunnelDetailDataView::note() const
{
    return note_->text();
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
    if (formTable_->topLevelItemCount() > 0) {
        std::string fields;
        for (int row = 0; row < formTable_->topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = formTable_->topLevelItem(row);
            fields += (item->text(0) + " = " + item->text(1) + "\n").toStdString();
        }
        return fields;
    }
    return VDTunnelDetailTextView::shownText();
}

void VDTunnelDetailDataView::exportData()
{
    saveAs(this, [this] { return BytesWork([bytes = storeData_] { return bytes; }); });
}

void VDTunnelDetailDataView::exportDecoded()
{
    saveAs(this, [this] {
        return BytesWork([facts = VDBodyFacts{shown_.body, shown_.contentType, shown_.contentEncoding}] {
            return contentOf(VDBodyMode::decoded, facts).decoded;
        });
    });
}

} // namespace vd
