#include "VDStartViewController.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "VDRemoteProfiles.h"
#include "VDWindowLook.h"
#include "WindowOpener.h"
#include "link/ServiceContract.h"
#include "platform/Numbers.h"

namespace vd {
namespace {

// The boxes under the options share one label column, so their fields line up.
constexpr int kLabelWidth = 96;
constexpr int kOptionIndent = 22;
constexpr int kWideField = 240;
constexpr int kPortField = 90;

const QString kNoProfile = QStringLiteral("No Profile");

QGridLayout* formGrid(QWidget* box)
{
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(kOptionIndent, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->setColumnMinimumWidth(0, kLabelWidth);
    grid->setColumnStretch(3, 1);
    return grid;
}

// The label is the field's buddy, so a screen reader names the field by it.
void addLabel(QGridLayout& grid, int row, const QString& text, QWidget* field)
{
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(field);
    grid.addWidget(label, row, 0);
}

QLineEdit* addField(QGridLayout& grid, int row, const QString& label, const QString& name, const QString& placeholder,
                    int width)
{
    auto* field = new QLineEdit;
    addLabel(grid, row, label, field);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setFixedWidth(width);
    grid.addWidget(field, row, 1);
    return field;
}

QLineEdit* addPasswordField(QGridLayout& grid, int row, const QString& name)
{
    // Dots, not the password: the window may be on a shared or recorded screen.
    QLineEdit* field = addField(grid, row, "Password:", name, "Password", kWideField);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

QPushButton* namedButton(const QString& text, const QString& name)
{
    auto* button = new QPushButton(text);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

VDStartViewController::VDStartViewController(WindowOpener& opener, QWidget* parent)
    : QWidget(parent)
    , opener_(opener)
{
    setupUI();
    localButton->setChecked(true);
    updateState();
    updateProfile();
}

void VDStartViewController::setupUI()
{
    auto* options = new QButtonGroup(this);
    localButton = new QRadioButton("Connect to Local Machine");
    remoteButton = new QRadioButton("Connect to Remote Machine");
    usbButton = new QRadioButton("Connect to USB Device");
    localButton->setObjectName("localButton");
    remoteButton->setObjectName("remoteButton");
    usbButton->setObjectName("usbButton");
    for (QRadioButton* option : {localButton, remoteButton, usbButton})
        options->addButton(option);
    connect(options, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool checked) {
        if (checked)
            updateState();
    });

    remoteBoxes_ = new QStackedWidget;
    remoteBoxes_->addWidget(buildRemoteView());
    remoteBoxes_->addWidget(buildRemoteStoreView());

    auto* segmentRow = new QHBoxLayout;
    segmentRow->setContentsMargins(kOptionIndent, 0, 0, 0);
    segmentRow->addWidget(buildSegmentControl());
    segmentRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(8);
    layout->addWidget(buildHeader());
    layout->addSpacing(10);
    layout->addWidget(localButton);
    layout->addWidget(remoteButton);
    layout->addLayout(segmentRow);
    layout->addWidget(remoteBoxes_);
    layout->addWidget(usbButton);
    layout->addWidget(buildUSBView());
    layout->addStretch();
    layout->addLayout(buildBottomBar());
}

QWidget* VDStartViewController::buildHeader()
{
    auto* icon = new QLabel;
    icon->setPixmap(applicationIconPixmap(64));
    icon->setFixedSize(64, 64);

    auto* title = new QLabel("New Dashboard");
    setTextPixelSize(*title, 34);
    auto* text = new QLabel("Vantor Dashboard can connect to Vantor instances anywhere. Please enable the external "
                            "access in the destination device.");
    setTextPixelSize(*text, 14);
    dimText(*text);
    text->setWordWrap(true);
    text->setMaximumWidth(415);

    auto* words = new QVBoxLayout;
    words->setSpacing(4);
    words->addWidget(title);
    words->addWidget(text);

    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(words, 1);
    return header;
}

QWidget* VDStartViewController::buildSegmentControl()
{
    remoteSegmentControl = new QWidget;
    remoteSegmentControl->setObjectName("remoteSegmentControl");
    remoteSegmentControl->setAccessibleName("Remote machine");
    auto* row = new QHBoxLayout(remoteSegmentControl);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    remoteSegments_ = new QButtonGroup(remoteSegmentControl);
    const QStringList titles = {"New Remote Machine", "Saved Remote Machine"};
    QList<QPushButton*> segments;
    int width = 0;
    for (int index = 0; index < titles.size(); ++index) {
        QPushButton* segment = namedButton(titles[index], QStringLiteral("remoteSegment%1").arg(index));
        segment->setCheckable(true);
        remoteSegments_->addButton(segment, index);
        row->addWidget(segment);
        segments.append(segment);
        width = std::max(width, segment->sizeHint().width());
    }
    for (QPushButton* segment : segments)
        segment->setFixedWidth(width);
    segments.front()->setChecked(true);
    connect(remoteSegments_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            updateRemoteView();
    });
    return remoteSegmentControl;
}

QWidget* VDStartViewController::buildRemoteView()
{
    remoteView = new QWidget;
    remoteView->setObjectName("remoteView");
    QGridLayout* grid = formGrid(remoteView);
    remoteHost = addField(*grid, 0, "Host:", "remoteHost", "127.0.0.1", kWideField);
    remotePort = addField(*grid, 1, "Port:", "remotePort", "6170", kPortField);
    remotePassword = addPasswordField(*grid, 2, "remotePassword");
    remoteSaveButton = namedButton("Save", "remoteSaveButton");
    grid->addWidget(remoteSaveButton, 2, 2);
    for (QLineEdit* field : {remoteHost, remotePort, remotePassword})
        connect(field, &QLineEdit::textChanged, this, &VDStartViewController::updateState);
    connect(remoteSaveButton, &QPushButton::clicked, this, &VDStartViewController::saveAction);
    return remoteView;
}

QWidget* VDStartViewController::buildRemoteStoreView()
{
    remoteStoreView = new QWidget;
    remoteStoreView->setObjectName("remoteStoreView");
    QGridLayout* grid = formGrid(remoteStoreView);
    storedRemoteConnect = new QComboBox;
    addLabel(*grid, 0, "Machine:", storedRemoteConnect);
    storedRemoteConnect->setObjectName("storedRemoteConnect");
    storedRemoteConnect->setFixedWidth(kWideField);
    grid->addWidget(storedRemoteConnect, 0, 1);
    removeStoreButton = namedButton("Delete Selected Profile", "removeStoreButton");
    grid->addWidget(removeStoreButton, 1, 1, Qt::AlignLeft);
    grid->setRowStretch(2, 1);
    connect(storedRemoteConnect, &QComboBox::activated, this, &VDStartViewController::storedRemoteConnectSelected);
    connect(removeStoreButton, &QPushButton::clicked, this, &VDStartViewController::removeRemote);
    return remoteStoreView;
}

QWidget* VDStartViewController::buildUSBView()
{
    auto* box = new QWidget;
    QGridLayout* grid = formGrid(box);
    usbPort = addField(*grid, 0, "Port:", "usbPort", "6170", kPortField);
    usbPassword = addPasswordField(*grid, 1, "usbPassword");
    for (QLineEdit* field : {usbPort, usbPassword})
        connect(field, &QLineEdit::textChanged, this, &VDStartViewController::updateState);
    return box;
}

QLayout* VDStartViewController::buildBottomBar()
{
    connectMessage_ = new QLabel;
    connectMessage_->setObjectName("connectMessage");
    connectMessage_->setWordWrap(true);
    QPalette palette = connectMessage_->palette();
    // A deep red reads on a light window, a light one on a dark window.
    const bool darkWindow = palette.color(QPalette::Window).lightness() < 128;
    palette.setColor(QPalette::WindowText, darkWindow ? QColor(0xff, 0x75, 0x70) : QColor(0xc0, 0x20, 0x20));
    connectMessage_->setPalette(palette);

    cancelButton = namedButton("Cancel", "cancelButton");
    connectButton = namedButton("Connect", "connectButton");
    connectButton->setDefault(true);
    connect(cancelButton, &QPushButton::clicked, this, &VDStartViewController::cancelAction);
    connect(connectButton, &QPushButton::clicked, this, &VDStartViewController::connectAction);
    // Connect is the default button: Return presses it from anywhere in the window (default
    // buttons of their own exist only in dialogs).
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, [this] {
            if (connectButton->isEnabled())
                connectButton->click();
        });
    }

    auto* bar = new QHBoxLayout;
    bar->addWidget(connectMessage_, 1);
    bar->addWidget(cancelButton);
    bar->addWidget(connectButton);
    return bar;
}

int VDStartViewController::selectedSegment() const
{
    return remoteSegments_->checkedId();
}

bool VDStartViewController::remoteFieldsFilled() const
{
    return !remoteHost->text().isEmpty() && !remotePort->text().isEmpty() && !remotePassword->text().isEmpty();
}

void VDStartViewController::updateState()
{
    // Any change of choice or text answers an earlier refusal.
    connectMessage_->clear();
    applyEnablingRules();
}

void VDStartViewController::updateRemoteView()
{
    applyEnablingRules();
    if (selectedSegment() == 1 && !profiles.isEmpty())
        storedRemoteConnectSelected();
}

void VDStartViewController::updateProfile()
{
    profiles = VDRemoteProfiles::names();
    storedRemoteConnect->clear();
    storedRemoteConnect->addItems(profiles.isEmpty() ? QStringList{kNoProfile} : profiles);
    applyEnablingRules();
    // The menu's selection moved with the reload; the fields follow it so that Connect never
    // uses a profile that is gone.
    if (selectedSegment() == 1 && !profiles.isEmpty())
        storedRemoteConnectSelected();
}

void VDStartViewController::applyEnablingRules()
{
    const bool remote = remoteButton->isChecked();
    const bool usb = usbButton->isChecked();
    const bool newRemote = selectedSegment() == 0;
    const bool anyProfile = !profiles.isEmpty();

    remoteSegmentControl->setEnabled(remote);
    remoteBoxes_->setCurrentIndex(selectedSegment());
    for (QLineEdit* field : {remoteHost, remotePort, remotePassword})
        field->setEnabled(remote);
    remoteSaveButton->setEnabled(remote && newRemote && remoteFieldsFilled());
    storedRemoteConnect->setEnabled(anyProfile);
    removeStoreButton->setEnabled(anyProfile);
    usbPort->setEnabled(usb);
    usbPassword->setEnabled(usb);

    bool canConnect = localButton->isChecked();
    if (remote)
        canConnect = newRemote ? remoteFieldsFilled() : anyProfile;
    else if (usb)
        canConnect = !usbPort->text().isEmpty() && !usbPassword->text().isEmpty();
    connectButton->setEnabled(canConnect);
}

void VDStartViewController::storedRemoteConnectSelected()
{
    const std::optional<VDRemoteProfile> chosen = VDRemoteProfiles::profile(storedRemoteConnect->currentText());
    if (!chosen)
        return;
    remoteHost->setText(chosen->host);
    remotePort->setText(chosen->port);
    remotePassword->setText(chosen->password);
}

void VDStartViewController::saveAction()
{
    showInputAlert(QString());
}

void VDStartViewController::showInputAlert(const QString& informativeText)
{
    auto* sheet = new QDialog(this);
    sheet->setObjectName("profileNameSheet");
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setMinimumWidth(320);

    auto* message = new QLabel("Please input name of the profile:");
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto* informative = new QLabel(informativeText);
    informative->setObjectName("informativeText");
    informative->setVisible(!informativeText.isEmpty());
    auto* name = new QLineEdit(remoteHost->text());
    name->setObjectName("profileName");
    name->setFixedSize(200, 24);

    auto* buttons = new QDialogButtonBox;
    QPushButton* save = buttons->addButton("Save", QDialogButtonBox::AcceptRole);
    buttons->addButton("Close", QDialogButtonBox::RejectRole);
    save->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    connect(sheet, &QDialog::accepted, this, [this, name] { saveRemote(name->text()); });

    auto* layout = new QVBoxLayout(sheet);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(name);
    layout->addWidget(buttons);
    sheet->open();
}

void VDStartViewController::saveRemote(const QString& name)
{
    if (name.isEmpty()) {
        showInputAlert("Profile name could not be empty.");
        return;
    }
    if (!VDRemoteProfiles::add(name, {remoteHost->text(), remotePort->text(), remotePassword->text()})) {
        showInputAlert("Profile name duplicate, try another one.");
        return;
    }
    remoteHost->clear();
    remotePort->clear();
    remotePassword->clear();
    updateProfile();
    updateState();
}

void VDStartViewController::removeRemote()
{
    VDRemoteProfiles::remove(storedRemoteConnect->currentText());
    updateProfile();
}

std::optional<std::int64_t> VDStartViewController::acceptedPort(const QString& text, const contract::PortRange& range,
                                                                const QString& what)
{
    // A text without a number reads as 0, which is a USB port; it is refused all the same.
    static const QRegularExpression kLeadingNumber(QStringLiteral("^\\s*[+-]?[0-9]"));
    const bool number = kLeadingNumber.match(text).hasMatch();
    const std::int64_t port = numbers::leadingInteger(text.toStdString());
    if (number && range.contains(port))
        return port;
    connectMessage_->setText(QString("%1 must be a number from %2 to %3.").arg(what).arg(range.first).arg(range.last));
    return std::nullopt;
}

void VDStartViewController::connectAction()
{
    if (localButton->isChecked()) {
        opener_.createLocalWindow();
    } else if (remoteButton->isChecked()) {
        const auto port = acceptedPort(remotePort->text(), contract::kRemotePorts, "The port");
        if (!port)
            return;
        opener_.createRemoteWindowWithHost(remoteHost->text().toStdString(), *port,
                                           remotePassword->text().toStdString());
    } else if (usbButton->isChecked()) {
        const auto port = acceptedPort(usbPort->text(), contract::kUSBPorts, "The USB port");
        if (!port)
            return;
        opener_.createRemoteWindowWithUSBPort(*port, usbPassword->text().toStdString());
    }
    window()->close();
}

void VDStartViewController::fillIn(ConnectionKind kind, const QString& host, std::int64_t port)
{
    QLineEdit* password = nullptr;
    switch (kind) {
    case ConnectionKind::Remote:
        remoteButton->setChecked(true);
        remoteSegments_->button(0)->setChecked(true);
        remoteHost->setText(host);
        remotePort->setText(QString::number(port));
        password = remotePassword;
        break;
    case ConnectionKind::USB:
        usbButton->setChecked(true);
        usbPort->setText(QString::number(port));
        password = usbPassword;
        break;
    case ConnectionKind::Local:
    case ConnectionKind::None:
        localButton->setChecked(true);
        break;
    }
    if (password)
        password->clear();
    updateState();
    if (password)
        password->setFocus();
}

void VDStartViewController::cancelAction()
{
    window()->close();
}

} // namespace vd
