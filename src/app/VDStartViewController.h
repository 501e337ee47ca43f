#pragma once

#include <cstdint>
#include <optional>

#include <QStringList>
#include <QWidget>

#include "WindowId.h"
#include "link/ServiceContract.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace vd {

class WindowOpener;

// The content of the connect window: the choice between this computer, a remote service (typed
// in or a saved profile) and a USB-attached device, the rules that enable "Connect", and the
// saved profiles. Connecting asks the opener for the main window first and closes the connect
// window afterwards, so the application never sees a moment with neither window open.
// Every control carries its field name as object name.
class VDStartViewController : public QWidget {
    Q_OBJECT
public:
    explicit VDStartViewController(WindowOpener& opener, QWidget* parent = nullptr);

    // Chooses the kind of link and fills in its host and port, with the password field emptied
    // and focused: the way back after the service refused a password.
    void fillIn(ConnectionKind kind, const QString& host, std::int64_t port);

private:
    void setupUI();
    QWidget* buildHeader();
    QWidget* buildRemoteView();
    QWidget* buildRemoteStoreView();
    QWidget* buildUSBView();
    QWidget* buildSegmentControl();
    QLayout* buildBottomBar();

    // The entry points of the enabling rules: a change of option or text, of the new/saved
    // switch, and a reload of the profiles.
    void updateState();
    void updateRemoteView();
    void updateProfile();
    // Every control's enabled state from the options, the fields and the profiles.
    void applyEnablingRules();
    void storedRemoteConnectSelected();
    void saveAction();
    void showInputAlert(const QString& informativeText);
    void saveRemote(const QString& name);
    void removeRemote();
    void connectAction();
    void cancelAction();

    int selectedSegment() const;
    bool remoteFieldsFilled() const;
    // The port the text names, or nothing (with a refusal naming `what` shown) when it is out of range.
    std::optional<std::int64_t> acceptedPort(const QString& text, const contract::PortRange& range, const QString& what);

    WindowOpener& opener_;
    QStringList profiles;

    QRadioButton* localButton = nullptr;
    QRadioButton* remoteButton = nullptr;
    QRadioButton* usbButton = nullptr;
    QWidget* remoteSegmentControl = nullptr;
    QButtonGroup* remoteSegments_ = nullptr;
    QStackedWidget* remoteBoxes_ = nullptr;
    QWidget* remoteView = nullptr;
    QLineEdit* remoteHost = nullptr;
    QLineEdit* remotePort = nullptr;
    QLineEdit* remotePassword = nullptr;
    QPushButton* remoteSaveButton = nullptr;
    QWidget* remoteStoreView = nullptr;
    QComboBox* storedRemoteConnect = nullptr;
    QPushButton* removeStoreButton = nullptr;
    QLineEdit* usbPort = nullptr;
    QLineEdit* usbPassword = nullptr;
    QLabel* connectMessage_ = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* connectButton = nullptr;
};

} // namespace vd
