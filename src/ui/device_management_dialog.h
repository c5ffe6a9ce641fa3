#pragma once

// "Device Management": the details every selected device shares (organization, name, credentials,
// channel count, camera types). The values stay in the members after the dialog has closed.

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "records/records.h"

class QLineEdit;
class QPushButton;
class QTreeWidgetItem;

namespace vantrel {

class OrgTreeCtrl;
class OrgTreeEditor;
class ProgramContext;

class DeviceManagementDialog : public QDialog {
    Q_OBJECT

public:
    // The organization tree comes from the context's catalogue.
    explicit DeviceManagementDialog(ProgramContext& context, QWidget* parent = nullptr);

    std::int32_t channelCount = 8;
    QString deviceName;  // trimmed after OK
    QString password;
    QString userName;
    QString orgName;
    std::int32_t orgId = 0;
    std::array<std::int32_t, kMaxChannels> cameraTypes{};

    // How many devices the name is for: OK refuses a name that does not fit its field together with the
    // running number of the last one. 1 unless told.
    void SetRowCount(int rows) { rowCount_ = rows < 1 ? 1 : rows; }

    // Copies name, password, user name, channel count and organization into record; nothing else is touched.
    // Texts that do not fit (OK refuses them) are cut at a character boundary, never past the field.
    void FillRecord(DeviceRecord& record) const;

    // The controls, for tests.
    OrgTreeCtrl* OrgTree() const { return orgTree_; }
    OrgTreeEditor* OrgEditor() const { return orgEditor_; }

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
    int rowCount_ = 1;
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
