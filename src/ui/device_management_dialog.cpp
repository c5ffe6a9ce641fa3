#include "ui/device_management_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <algorithm>
#include <cstring>

#include "camera_type_dialog.h"
#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "context/program_context.h"
#include "dialog_buttons.h"
#include "dialog_units.h"
#include "field_copy.h"
#include "org_tree.h"
#include "org_tree_editor.h"
#include "records/text_field.h"
#include "resources.h"
#include "store/device_store.h"
#include "store/store_text.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

// The labels reach up to the fields (at 190): the template's label widths were measured for its own font and
// cut the texts of wider ones.
constexpr int kLabelRight = 187;

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

    MakePreviewControls(du);

    orgEditor_ = new OrgTreeEditor(orgTree_, context_);

    // tab order as the operator fills the form, then the tree (and round again)
    setTabOrder(nameEdit_, userNameEdit_);
    setTabOrder(userNameEdit_, passwordEdit_);
    setTabOrder(passwordEdit_, channelEdit_);
    setTabOrder(channelEdit_, cameraTypeButton_);
    setTabOrder(cameraTypeButton_, firstNumber_);
    setTabOrder(firstNumber_, freeNumberButton_);
    setTabOrder(freeNumberButton_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    setTabOrder(cancelButton_, orgTree_);

    setFixedSize(du.X(316), du.Y(299));
}

void DeviceManagementDialog::MakePreviewControls(const DialogUnits& du) {
    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("namePreview"));
    preview_->setGeometry(du.Rect(126, 158, 180, 10));
    nameWarning_ = new QLabel(this);
    nameWarning_->setObjectName(QStringLiteral("nameWarning"));
    nameWarning_->setWordWrap(true);
    nameWarning_->setGeometry(du.Rect(126, 186, 180, 16));
    auto* firstLabel = MakeLabel(this, "&Start numbers at", du.Rect(126, 172, 62, 8), nullptr);
    firstNumber_ = new QSpinBox(this);
    firstNumber_->setObjectName(QStringLiteral("firstNumber"));
    firstNumber_->setRange(1, 999999);
    firstNumber_->setGeometry(du.Rect(190, 170, 40, 14));
    firstLabel->setBuddy(firstNumber_);
    freeNumberButton_ = new QPushButton(QStringLiteral("Use &free"), this);
    freeNumberButton_->setObjectName(QStringLiteral("useFreeNumber"));
    freeNumberButton_->setAutoDefault(false);
    freeNumberButton_->setGeometry(du.Rect(234, 170, 45, 14));
    freeNumberButton_->setEnabled(false);
    leftOut_ = new QLabel(this);
    leftOut_->setObjectName(QStringLiteral("leftOut"));
    leftOut_->setWordWrap(true);
    leftOut_->setGeometry(du.Rect(126, 224, 180, 20));
    connect(nameEdit_, &QLineEdit::textChanged, this, &DeviceManagementDialog::UpdatePreview);
    connect(firstNumber_, qOverload<int>(&QSpinBox::valueChanged), this, &DeviceManagementDialog::UpdatePreview);
    connect(freeNumberButton_, &QPushButton::clicked, this, &DeviceManagementDialog::UseFreeNumber);
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
    orgEditor_->Refresh(rememberedOrg_);
    nameEdit_->setFocus();
}

bool DeviceManagementDialog::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        channelEdit_->setText(QString::number(details_.channelCount));
        nameEdit_->setText(details_.deviceName);
        passwordEdit_->setText(details_.password);
        userNameEdit_->setText(details_.userName);
        organizationEdit_->setText(details_.orgName);
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
    details_.channelCount = channels;
    details_.deviceName = nameEdit_->text();
    details_.password = passwordEdit_->text();
    details_.userName = userNameEdit_->text();
    details_.orgName = organizationEdit_->text();
    return true;
}

void DeviceManagementDialog::OnSelchangedOrgTree(QTreeWidgetItem* current) {
    if (current == nullptr) {
        return;
    }
    details_.orgName = current->text(0);
    details_.orgId = OrgTreeCtrl::OrgIdOf(current);
    // only the organization changes; what the operator typed into the other fields stays
    organizationEdit_->setText(details_.orgName);
}

bool DeviceManagementDialog::CheckTextField(const QString& text, const char* fieldName, int reservedBytes,
                                            bool storedAsText) {
    QByteArray bytes = text.toUtf8();
    std::string problem = TextFieldProblem(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                           fieldName, static_cast<std::size_t>(reservedBytes), storedAsText);
    if (problem.empty()) {
        return true;
    }
    ShowMessage(this, QString::fromStdString(problem), QString::fromLatin1(device_messages::kErrorCaption));
    return false;
}

void DeviceManagementDialog::SetRowCount(int rows) {
    rowCount_ = rows < 1 ? 1 : rows;
    UpdatePreview();
}

void DeviceManagementDialog::SetLeftOut(int rows) {
    leftOut_->setText(rows <= 0 ? QString()
                      : rows == 1
                          ? QStringLiteral("1 selected device is registered already and left out.")
                          : QStringLiteral("%1 selected devices are registered already and left out.").arg(rows));
}

void DeviceManagementDialog::SetRemembered(std::int32_t orgId, const QString& userName) {
    rememberedOrg_ = orgId;
    details_.userName = userName;
}

void DeviceManagementDialog::UpdatePreview() {
    const QString base = nameEdit_->text().trimmed();
    const int first = firstNumber_->value();
    auto name = [&base](int number) { return base + QString::number(number); };
    QString names =
        rowCount_ == 1 ? name(first)
        : rowCount_ <= 3
            ? QStringList{name(first), name(first + 1), name(first + 2)}.mid(0, rowCount_).join(QStringLiteral(", "))
            : name(first) + QStringLiteral(" \u2026 ") + name(first + rowCount_ - 1);
    preview_->setText(base.isEmpty()   ? QString()
                      : rowCount_ == 1 ? QStringLiteral("1 device: %1").arg(names)
                                       : QStringLiteral("%1 devices: %2").arg(rowCount_).arg(names));
    DeviceStore* store = context_.Store();
    QStringList existing;
    if (store != nullptr && !base.isEmpty()) {
        for (int n = first; n < first + rowCount_; ++n) {
            if (store->FindDeviceByName(name(n).toUtf8().constData()) != 0) {
                existing << name(n);
            }
        }
    }
    freeNumber_ = 1;
    if (!existing.isEmpty()) {
        const std::string base8 = base.toStdString();
        freeNumber_ = FirstFreeNumber(base8, rowCount_, [store](const std::string& candidate) {
            return store->FindDeviceByName(candidate.c_str()) != 0;
        });
        QString shown = existing.mid(0, 3).join(QStringLiteral(", ")) +
                        (existing.size() > 3 ? QStringLiteral(", \u2026") : QString());
        nameWarning_->setText(
            QStringLiteral("Already registered: %1. Numbers from %2 are free.").arg(shown).arg(freeNumber_));
    } else {
        nameWarning_->clear();
    }
    freeNumberButton_->setEnabled(!existing.isEmpty());
}

void DeviceManagementDialog::UseFreeNumber() {
    firstNumber_->setValue(freeNumber_);
}

void DeviceManagementDialog::accept() {
    if (!UpdateData(true)) {
        return;
    }
    const QString caption = QString::fromLatin1(device_messages::kErrorCaption);
    QString trimmed = details_.deviceName.trimmed();
    if (trimmed.isEmpty()) {
        ShowMessage(this, QString::fromLatin1(device_messages::kNameInvalid), caption);
        nameEdit_->setFocus();
        return;
    }
    if (details_.channelCount < 1 || details_.channelCount > kMaxChannels) {
        ShowMessage(this, QString::fromLatin1(device_messages::kChannelRange), caption);
        channelEdit_->setFocus();
        return;
    }
    details_.firstNumber = firstNumber_->value();
    if (!CheckTextField(trimmed, "Device Name", DecimalDigits(details_.firstNumber + rowCount_ - 1))) {
        nameEdit_->setFocus();
        return;
    }
    if (!CheckTextField(details_.userName, "User Name", 0)) {
        userNameEdit_->setFocus();
        return;
    }
    if (!CheckTextField(details_.password, "Password", 0, false)) {
        passwordEdit_->setFocus();
        return;
    }
    details_.deviceName = trimmed;
    QDialog::accept();
}

void DeviceManagementDialog::OnEditCameraType() {
    if (!UpdateData(true)) {
        return;
    }
    if (details_.channelCount < 1 || details_.channelCount > kMaxChannels) {
        ShowMessage(this, QString::fromLatin1(device_messages::kChannelRange),
                    QString::fromLatin1(device_messages::kCameraTypeCaption));
        return;
    }
    CameraTypeDialog dialog(UiTextTableFor(context_.Paths()), this);
    dialog.channelCount = details_.channelCount;
    dialog.cameraTypes = details_.cameraTypes;
    if (dialog.exec() == QDialog::Accepted) {
        details_.cameraTypes = dialog.cameraTypes;
    }
}

}  // namespace vantrel
