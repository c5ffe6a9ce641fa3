#include "ui/add_device_flow.h"

#include <string.h>

#include <cstring>

#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "context/program_context.h"
#include "records/text_field.h"
#include "store/device_store.h"
#include "store/store_text.h"
#include "ui/device_management_dialog.h"
#include "ui/messages.h"

namespace vantrel {
unsigned ParsePortText(const QString& text) {
    unsigned value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            break;
        }
        value = value * 10 + static_cast<unsigned>(c.unicode() - '0');
        if (value > 65535) {
            return 65535;
        }
    }
    return value;
}

namespace {

void ShowSummary(QWidget* parent, const RegistrationReport& report) {
    QString text = QString::fromStdString(SummaryText(report));
    if (!report.skipped.empty()) {
        text += QStringLiteral("\n\nSkipped:");
        for (const SkippedRow& row : report.skipped) {
            text += QLatin1Char('\n') + QString::fromStdString(SkippedText(row));
        }
    }
    ShowMessage(parent, text, QString::fromLatin1(add_messages::kSummaryCaption));
}

// true when there is no missing key to worry about, or the operator agreed to a new one
bool AgreedToKey(QWidget* parent, DeviceStore& store) {
    const StoreCondition* condition = store.Condition();
    if (condition == nullptr || !condition->keyMissing || condition->newKeyAgreed) {
        return true;
    }
    if (!AskYesNo(parent,
                  QString::fromLatin1(add_messages::kAskNewKey)
                      .arg(QString::fromStdString(condition->keyPath), QString::fromStdString(condition->path)),
                  QString::fromLatin1(add_messages::kAskNewKeyCaption))) {
        return false;
    }
    store.AgreeToNewKey();
    return true;
}

std::vector<RegistrationRow> ToRegistrationRows(const std::vector<SelectedRow>& rows) {
    std::vector<RegistrationRow> converted;
    for (const SelectedRow& row : rows) {
        converted.push_back(RegistrationRow{row.address.toStdString(), ParsePortText(row.port)});
    }
    return converted;
}

}  // namespace

void RunAddDeviceFlow(QWidget* parent, ProgramContext& context, const SelectedRowsSource& selectedRows) {
    std::vector<SelectedRow> rows = selectedRows();
    if (rows.empty()) {
        ShowMessage(parent, QString::fromLatin1(add_messages::kNoSelection),
                    QString::fromLatin1(add_messages::kNoSelectionCaption));
        return;
    }
    DeviceStore* store = context.Store();
    DeviceCatalogue* catalogue = context.Catalogue();
    if (store == nullptr || catalogue == nullptr || !store->SaveRefusal().empty()) {
        std::string why = store != nullptr ? store->SaveRefusal() : context.Paths().DatabasePath() + " cannot be opened";
        ShowMessage(parent, QString::fromLatin1(add_messages::kAddRefused).arg(QString::fromStdString(why)),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    DeviceManagementDialog dialog(context, parent);
    dialog.SetRowCount(static_cast<int>(rows.size()));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    rows = selectedRows();
    if (rows.empty() || !AgreedToKey(parent, *store)) {
        return;
    }
    RegistrationDetails details;
    details.name = dialog.deviceName.toStdString();
    details.userName = dialog.userName.toStdString();
    details.password = dialog.password.toStdString();
    details.channels = static_cast<std::uint32_t>(dialog.channelCount);
    details.orgId = static_cast<std::uint32_t>(dialog.orgId);
    details.cameraTypes = dialog.cameraTypes;
    RegistrationReport report = RegisterDevices(*catalogue, *store, details, ToRegistrationRows(rows));
    explicit_bzero(details.password.data(), details.password.size());
    if (!report.saved) {
        ShowMessage(parent, QString::fromLatin1(add_messages::kSaveFailed).arg(QString::fromStdString(report.saveProblem)),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    ShowSummary(parent, report);
}

}  // namespace vantrel
