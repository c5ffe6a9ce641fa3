#pragma once

// "Device Management": the details every selected device shares (organization, name, credentials,
// channel count, camera types), with a preview of the names the devices will get and where numbering starts.
// Details() gives the values after the dialog has closed.

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "records/records.h"

class QLabel;
class QLineEdit;
class QSpinBox;
class QPushButton;
class QTreeWidgetItem;

namespace vantrel {

class DialogUnits;
class OrgTreeCtrl;
class OrgTreeEditor;
class ProgramContext;

// What the dialog collected.
struct DeviceDetails {
    std::int32_t channelCount = 8;
    QString deviceName;  // trimmed after OK
    QString password;
    QString userName;
    QString orgName;
    std::int32_t orgId = 0;
    std::array<std::int32_t, kMaxChannels> cameraTypes{};
    int firstNumber = 1;  // running number of the first device
};

class DeviceManagementDialog : public QDialog {
    Q_OBJECT

public:
    // The organization tree comes from the context's catalogue.
    explicit DeviceManagementDialog(ProgramContext& context, QWidget* parent = nullptr);

    // How many devices the name is for: the preview shows their names, and OK refuses a name that does not fit
    // its field together with the running number of the last one. 1 unless told.
    void SetRowCount(int rows);
    // Selected rows that are registered already and left out: the dialog says how many.
    void SetLeftOut(int rows);
    // Starts on this organization (when the tree holds it) and user name, as last time.
    void SetRemembered(std::int32_t orgId, const QString& userName);

    const DeviceDetails& Details() const { return details_; }

    void setVisible(bool visible) override;

public slots:
    void accept() override;

private slots:
    void OnSelchangedOrgTree(QTreeWidgetItem* current);
    void OnEditCameraType();

private:
    void InitDialog();
    // true: controls -> members, false when Total Channel holds no whole number (the operator is told);
    // false: members -> controls.
    bool UpdateData(bool saveAndValidate);
    // storedAsText: the field goes into the file as it is, so "<" and "&" are refused like the double quote
    // (a password is stored enciphered and only the double quote is refused).
    bool CheckTextField(const QString& text, const char* fieldName, int reservedBytes, bool storedAsText = true);
    // The names the devices would get, and those of them that exist already, under the name field.
    void UpdatePreview();
    void UseFreeNumber();
    void MakePreviewControls(const DialogUnits& du);

    ProgramContext& context_;
    OrgTreeCtrl* orgTree_ = nullptr;
    OrgTreeEditor* orgEditor_ = nullptr;
    QLineEdit* channelEdit_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLineEdit* userNameEdit_ = nullptr;
    QLineEdit* organizationEdit_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* cameraTypeButton_ = nullptr;
    QLabel* preview_ = nullptr;
    QLabel* nameWarning_ = nullptr;
    QLabel* leftOut_ = nullptr;
    QSpinBox* firstNumber_ = nullptr;
    QPushButton* freeNumberButton_ = nullptr;
    DeviceDetails details_;
    int rowCount_ = 1;
    int freeNumber_ = 1;
    std::int32_t rememberedOrg_ = 0;
};

// Message texts of the dialog's checks.
namespace device_messages {
inline constexpr const char* kNameInvalid = "Device Name is invalid!";
inline constexpr const char* kChannelRange = "The channel's number must be between 1 and 16!";
inline constexpr const char* kChannelNotNumber = "Total Channel must be a whole number!";
inline constexpr const char* kErrorCaption = "ERROR";
inline constexpr const char* kCameraTypeCaption = "Quellfort";
}  // namespace device_messages

}  // namespace vantrel
