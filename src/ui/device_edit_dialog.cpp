#include "ui/device_edit_dialog.h"

#include <string.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstring>
#include <utility>

#include "camera_type_dialog.h"
#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "org_tree.h"
#include "records/text_field.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

constexpr const char* kCaption = "ERROR";

QLineEdit* AddField(QFormLayout* form, const char* label, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(QString::fromLatin1(name));
    form->addRow(QString::fromLatin1(label), edit);
    return edit;
}

void CopyText(char (&field)[kTextFieldSize], const QString& text) {
    QByteArray bytes = text.toUtf8();
    std::memset(field, 0, sizeof field);
    CopyToField(field, sizeof field, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void DigitsOnly(QLineEdit* edit) {
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
}

}  // namespace

DeviceEditDialog::DeviceEditDialog(DeviceStore& store, const DeviceEdit& start, UiTextTable texts, QWidget* parent)
    : QDialog(parent), store_(store), edit_(start), texts_(std::move(texts)) {
    setObjectName(QStringLiteral("deviceEditDialog"));
    setWindowTitle(QStringLiteral("Edit Device"));
    const DeviceRecord& r = edit_.record;
    auto* form = new QFormLayout;
    name_ = AddField(form, "Device &Name", "deviceName", QString::fromUtf8(r.name));
    address_ = AddField(form, "&Address", "address", QString::fromUtf8(r.host));
    port_ = AddField(form, "P&ort", "port", QString::number(r.port & 0xFFFFu));
    DigitsOnly(port_);
    user_ = AddField(form, "&User Name", "userName", QString::fromUtf8(r.username));
    password_ = AddField(form, "&Password", "password", QString());
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(QStringLiteral("unchanged"));
    channels_ = AddField(form, "Total C&hannel", "totalChannel", QString::number(r.cameras & 0xFFFFu));
    DigitsOnly(channels_);
    auto* cameraButton = new QPushButton(QStringLiteral("Edit &Camera type"));
    cameraButton->setObjectName(QStringLiteral("editCameraType"));
    cameraButton->setAutoDefault(false);
    connect(cameraButton, &QPushButton::clicked, this, &DeviceEditDialog::EditCameraTypes);
    form->addRow(QString(), cameraButton);
    ddns_ = new QCheckBox(QStringLiteral("Reached through &DDNS"));
    ddns_->setObjectName(QStringLiteral("ddns"));
    ddns_->setChecked((r.ddnsFlag & 0xFFu) != 0);
    form->addRow(QString(), ddns_);
    ddnsHost_ = AddField(form, "DDNS &Host", "ddnsHost", QString::fromUtf8(r.ddnsHost));
    ddnsPort_ = AddField(form, "DDNS Po&rt", "ddnsPort", QString::number(r.ddnsPort));
    DigitsOnly(ddnsPort_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceEditDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeviceEditDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

DeviceEditDialog::~DeviceEditDialog() {
    explicit_bzero(edit_.record.password, sizeof edit_.record.password);
}

bool DeviceEditDialog::ReadFields() {
    bool portOk = false;
    bool channelsOk = false;
    bool ddnsPortOk = false;
    unsigned port = port_->text().toUInt(&portOk);
    unsigned channels = channels_->text().toUInt(&channelsOk);
    unsigned ddnsPort = ddnsPort_->text().isEmpty() ? 0 : ddnsPort_->text().toUInt(&ddnsPortOk);
    ddnsPortOk = ddnsPortOk || ddnsPort_->text().isEmpty();
    if (!portOk || port > 65535 || !ddnsPortOk || ddnsPort > 65535) {
        ShowMessage(this, QStringLiteral("The port must be a number from 0 to 65535!"), QString::fromLatin1(kCaption));
        return false;
    }
    if (!channelsOk) {
        ShowMessage(this, QStringLiteral("Total Channel must be a whole number!"), QString::fromLatin1(kCaption));
        return false;
    }
    DeviceRecord& r = edit_.record;
    CopyText(r.name, name_->text().trimmed());
    CopyText(r.host, address_->text().trimmed());
    CopyText(r.username, user_->text());
    CopyText(r.password, password_->text());
    CopyText(r.ddnsHost, ddnsHost_->text().trimmed());
    r.port = port;
    r.cameras = channels;
    r.ddnsFlag = ddns_->isChecked() ? 1 : 0;
    r.ddnsPort = ddnsPort;
    return true;
}

void DeviceEditDialog::accept() {
    if (!ReadFields()) {
        return;
    }
    // the same limits as adding: texts that would be cut are refused, not cut
    struct Field {
        QLineEdit* edit;
        const char* label;
        bool storedAsText;
    };
    for (const Field& field :
         {Field{name_, "Device Name", true}, Field{address_, "Address", true}, Field{user_, "User Name", true},
          Field{password_, "Password", false}, Field{ddnsHost_, "DDNS Host", true}}) {
        QByteArray bytes = field.edit->text().trimmed().toUtf8();
        std::string problem =
            TextFieldProblem(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), field.label,
                             0, field.storedAsText);
        if (!problem.empty()) {
            ShowMessage(this, QString::fromStdString(problem), QString::fromLatin1(kCaption));
            field.edit->setFocus();
            return;
        }
    }
    std::string problem = DeviceChangeProblem(store_, edit_.record.id, edit_.record);
    if (!problem.empty()) {
        ShowMessage(this, QString::fromStdString(problem), QString::fromLatin1(kCaption));
        return;
    }
    QDialog::accept();
}

void DeviceEditDialog::EditCameraTypes() {
    bool whole = false;
    int channels = channels_->text().toInt(&whole);
    if (!whole || channels < 1 || channels > kMaxChannels) {
        ShowMessage(this, QStringLiteral("The channel's number must be between 1 and 16!"),
                    QString::fromLatin1(kCaption));
        return;
    }
    CameraTypeDialog dialog(texts_, this);
    dialog.channelCount = channels;
    dialog.cameraTypes = edit_.cameraTypes;
    if (dialog.exec() == QDialog::Accepted) {
        edit_.cameraTypes = dialog.cameraTypes;
    }
}

bool ChooseOrganization(QWidget* parent, const DeviceCatalogue& catalogue, std::int32_t& orgId) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("moveDialog"));
    dialog.setWindowTitle(QStringLiteral("Move to Organization"));
    auto* tree = new OrgTreeCtrl(&dialog);
    tree->setObjectName(QStringLiteral("moveTree"));
    FillOrgTree(tree, nullptr, 0, &catalogue);
    if (QTreeWidgetItem* root = tree->topLevelItem(0)) {
        root->setText(0, QStringLiteral("Organization"));
        root->setExpanded(true);
        tree->setCurrentItem(root);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(tree);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || tree->currentItem() == nullptr) {
        return false;
    }
    orgId = OrgTreeCtrl::OrgIdOf(tree->currentItem());
    return true;
}

}  // namespace vantrel
