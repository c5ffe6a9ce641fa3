#include "ui/device_management_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstring>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "records/text_field.h"
#include "store/store_text.h"
#include "ui/camera_type_dialog.h"
#include "ui/dialog_buttons.h"
#include "ui/dialog_units.h"
#include "ui/field_copy.h"
#include "ui/messages.h"
#include "ui/org_tree.h"
#include "ui/org_tree_editor.h"
#include "ui/resources.h"

namespace vantrel {
namespace {

constexpr int kMaxTextBytes = static_cast<int>(kTextFieldSize) - 1;
// The labels reach up to the fields (at 190): the template's label widths were measured for its own font and
// cut the texts of wider ones.
constexpr int kLabelRight = 187;

int DecimalDigits(int value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    return edit;
}

// text may mark a mnemonic with '&'; Alt and that letter move the focus to buddy.
QLabel* MakeLabel(QWidget* parent, const char* text, const QRect& geometry, QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(geometry);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

DeviceManagementDialog::DeviceManagementDialog(ProgramContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    setObjectName(QStringLiteral("deviceManagementDialog"));
    setWindowTitle(QStringLiteral("Device Management"));
    setFont(TemplateFont(font()));
    UseWindowBackground(this);
    DialogUnits du(font());

    const OkCancelButtons buttons = AddOkCancelButtons(this, du.Rect(184, 203, 42, 14), du.Rect(234, 203, 45, 14));
    okButton_ = buttons.ok;
    cancelButton_ = buttons.cancel;

    orgTree_ = new OrgTreeCtrl(this);
    orgTree_->setObjectName(QStringLiteral("orgTree"));
    orgTree_->setGeometry(du.Rect(5, 6, 115, 285));
    connect(orgTree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnSelchangedOrgTree(current); });

    auto* group = new QGroupBox(this);
    group->setGeometry(du.Rect(126, 3, 180, 151));

    organizationEdit_ = MakeEdit(this, "organization", du.Rect(190, 12, 94, 14));
    organizationEdit_->setReadOnly(true);
    // the tree chooses the organization; the field only shows it and stays out of the Tab order
    organizationEdit_->setFocusPolicy(Qt::ClickFocus);
    MakeLabel(this, "&Organization", du.Rect(135, 14, kLabelRight - 135, 8), orgTree_);
    nameEdit_ = MakeEdit(this, "deviceName", du.Rect(190, 36, 94, 14));
    MakeLabel(this, "Device &Name", du.Rect(134, 38, kLabelRight - 134, 8), nameEdit_);
    userNameEdit_ = MakeEdit(this, "userName", du.Rect(190, 60, 94, 14));
    MakeLabel(this, "&User Name", du.Rect(134, 62, kLabelRight - 134, 8), userNameEdit_);
    passwordEdit_ = MakeEdit(this, "password", du.Rect(190, 84, 94, 14));
    passwordEdit_->setEchoMode(QLineEdit::Password);
    MakeLabel(this, "&Password", du.Rect(134, 86, 33, 8), passwordEdit_)->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    channelEdit_ = MakeEdit(this, "totalChannel", du.Rect(190, 108, 94, 14));
    channelEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), channelEdit_));
    MakeLabel(this, "Total C&hannel", du.Rect(134, 110, kLabelRight - 134, 8), channelEdit_);
    cameraTypeButton_ = new QPushButton(QStringLiteral("Edit &Camera type"), this);
    cameraTypeButton_->setObjectName(QStringLiteral("editCameraType"));
    cameraTypeButton_->setGeometry(du.Rect(190, 132, 94, 14));
    cameraTypeButton_->setAutoDefault(false);
    connect(cameraTypeButton_, &QPushButton::clicked, this, &DeviceManagementDialog::OnEditCameraType);
    group->lower();

    orgEditor_ = new OrgTreeEditor(orgTree_, context_);

    // tab order as the operator fills the form, then the tree (and round again)
    setTabOrder(nameEdit_, userNameEdit_);
    setTabOrder(userNameEdit_, passwordEdit_);
    setTabOrder(passwordEdit_, channelEdit_);
    setTabOrder(channelEdit_, cameraTypeButton_);
    setTabOrder(cameraTypeButton_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    setTabOrder(cancelButton_, orgTree_);

    setFixedSize(du.X(316), du.Y(299));
}

void DeviceManagementDialog::setVisible(bool visible) {
    if (visible && !isVisible()) {
        InitDialog();
    }
    QDialog::setVisible(visible);
}

void DeviceManagementDialog::InitDialog() {
    UpdateData(false);
    orgTree_->clear();
    orgEditor_->Refresh(0);
    nameEdit_->setFocus();
}

bool DeviceManagementDialog::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        channelEdit_->setText(QString::number(channelCount));
        nameEdit_->setText(deviceName);
        passwordEdit_->setText(password);
        userNameEdit_->setText(userName);
        organizationEdit_->setText(orgName);
        return true;
    }
    bool whole = false;
    int channels = channelEdit_->text().trimmed().toInt(&whole);
    if (!whole) {
        ShowMessage(this, QString::fromLatin1(device_messages::kChannelNotNumber),
                    QString::fromLatin1(device_messages::kErrorCaption));
        channelEdit_->setFocus();
        channelEdit_->selectAll();
        return false;
    }
    channelCount = channels;
    deviceName = nameEdit_->text();
    password = passwordEdit_->text();
    userName = userNameEdit_->text();
    orgName = organizationEdit_->text();
    return true;
}

void DeviceManagementDialog::OnSelchangedOrgTree(QTreeWidgetItem* current) {
    if (current == nullptr) {
        return;
    }
    orgName = current->text(0);
    orgId = OrgTreeCtrl::OrgIdOf(current);
    // only the organization changes; what the operator typed into the other fields stays
    organizationEdit_->setText(orgName);
}

bool DeviceManagementDialog::CheckTextField(const QString& text, const char* fieldName, int reservedBytes,
                                            bool storedAsText) {
    const QString field = QString::fromLatin1(fieldName);
    QString problem;
    QByteArray bytes = text.toUtf8();
    const char* character =
        storedAsText ? UnstorableCharacter(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))
                     : UnstorableCharacter(text.contains(QLatin1Char('"')) ? "\"" : "");
    if (character != nullptr) {
        problem = QStringLiteral("%1 must not contain %2!").arg(field, QString::fromLatin1(character));
    } else if (text.toUtf8().size() + reservedBytes > kMaxTextBytes) {
        problem = reservedBytes > 0
                      ? QStringLiteral("%1 is too long! Together with the device number it must fit in %2 bytes.")
                            .arg(field)
                            .arg(kMaxTextBytes)
                      : QStringLiteral("%1 is too long! It must fit in %2 bytes.").arg(field).arg(kMaxTextBytes);
    }
    if (problem.isEmpty()) {
        return true;
    }
    ShowMessage(this, problem, QString::fromLatin1(device_messages::kErrorCaption));
    return false;
}

void DeviceManagementDialog::accept() {
    if (!UpdateData(true)) {
        return;
    }
    const QString caption = QString::fromLatin1(device_messages::kErrorCaption);
    QString trimmed = deviceName.trimmed();
    if (trimmed.isEmpty()) {
        ShowMessage(this, QString::fromLatin1(device_messages::kNameInvalid), caption);
        nameEdit_->setFocus();
        return;
    }
    if (channelCount < 1 || channelCount > kMaxChannels) {
        ShowMessage(this, QString::fromLatin1(device_messages::kChannelRange), caption);
        channelEdit_->setFocus();
        return;
    }
    if (!CheckTextField(trimmed, "Device Name", DecimalDigits(rowCount_))) {
        nameEdit_->setFocus();
        return;
    }
    if (!CheckTextField(userName, "User Name", 0)) {
        userNameEdit_->setFocus();
        return;
    }
    if (!CheckTextField(password, "Password", 0, false)) {
        passwordEdit_->setFocus();
        return;
    }
    deviceName = trimmed;
    QDialog::accept();
}

void DeviceManagementDialog::OnEditCameraType() {
    if (!UpdateData(true)) {
        return;
    }
    if (channelCount < 1 || channelCount > kMaxChannels) {
        ShowMessage(this, QString::fromLatin1(device_messages::kChannelRange),
                    QString::fromLatin1(device_messages::kCameraTypeCaption));
        return;
    }
    CameraTypeDialog dialog(UiTextTableFor(context_.Paths()), this);
    dialog.channelCount = channelCount;
    dialog.cameraTypes = cameraTypes;
    if (dialog.exec() == QDialog::Accepted) {
        cameraTypes = dialog.cameraTypes;
    }
}

void DeviceManagementDialog::FillRecord(DeviceRecord& record) const {
    CopyText(record.name, deviceName);
    CopyText(record.password, password);
    CopyText(record.username, userName);
    record.cameras = static_cast<std::uint32_t>(channelCount);
    record.orgId = static_cast<std::uint32_t>(orgId);
}

}  // namespace vantrel
