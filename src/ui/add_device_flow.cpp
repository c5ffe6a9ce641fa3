#include "ui/add_device_flow.h"

#include <string.h>

#include <QMessageBox>
#include <QSettings>
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

QString SettingsKey(const ProgramContext& context) {
    // a data folder path holds '/', which QSettings takes for groups
    return QStringLiteral("addDevice/") +
           QString::fromLatin1(QByteArray::fromStdString(context.Paths().dataFolder).toHex());
}

void ShowSummary(QWidget* parent, const RegistrationReport& report) {
    QMessageBox box(report.skipped.empty() ? QMessageBox::Information : QMessageBox::Warning,
                    QString::fromLatin1(add_messages::kSummaryCaption), QString::fromStdString(SummaryText(report)),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    QStringList skipped;
    for (const SkippedRow& row : report.skipped) {
        skipped << QString::fromStdString(SkippedText(row));
    }
    if (!skipped.isEmpty()) {
        // the details area scrolls, so any number of rows fits the screen
        box.setDetailedText(skipped.join(QLatin1Char('\n')));
    }
    box.exec();
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

// The rows to register: those not registered yet, and of those with a warning only the ones the operator keeps.
std::vector<RegistrationRow> RowsToRegister(QWidget* parent, DeviceStore& store, const std::vector<SelectedRow>& rows,
                                            std::size_t& leftOut) {
    std::vector<RegistrationRow> fresh;
    QStringList warned;
    std::vector<bool> isWarned;
    leftOut = 0;
    for (const SelectedRow& row : rows) {
        RegistrationRow candidate{row.address.toStdString(), ParsePortText(row.port)};
        if (store.FindDeviceByAddress(candidate.address.c_str(), candidate.port) != 0) {
            ++leftOut;
            continue;
        }
        fresh.push_back(candidate);
        isWarned.push_back(!row.warning.isEmpty());
        if (!row.warning.isEmpty()) {
            warned << QStringLiteral("%1:%2: %3").arg(row.address).arg(candidate.port).arg(row.warning);
        }
    }
    if (!warned.isEmpty() &&
        !AskYesNo(parent, QString::fromLatin1(add_messages::kAskWarned).arg(warned.join(QLatin1Char('\n'))),
                  QString::fromLatin1(add_messages::kSummaryCaption))) {
        std::vector<RegistrationRow> kept;
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            if (!isWarned[i]) {
                kept.push_back(fresh[i]);
            }
        }
        fresh = std::move(kept);
    }
    return fresh;
}

// Runs the dialog until OK with details the operator stands by; false when cancelled.
bool AskDetails(QWidget* parent, DeviceManagementDialog& dialog) {
    bool askedEmpty = false;
    while (dialog.exec() == QDialog::Accepted) {
        const DeviceDetails& details = dialog.Details();
        QStringList empty;
        if (details.userName.isEmpty()) {
            empty << QStringLiteral("user name");
        }
        if (details.password.isEmpty()) {
            empty << QStringLiteral("password");
        }
        if (empty.isEmpty() || askedEmpty) {
            return true;
        }
        askedEmpty = true;
        if (AskYesNo(parent, QString::fromLatin1(add_messages::kAskEmpty).arg(empty.join(QStringLiteral(" and "))),
                     QString::fromLatin1(add_messages::kSummaryCaption))) {
            return true;
        }
    }
    return false;
}

// Keeps the organization and user name for the next Add. A changed value is written when settings goes (the
// file is replaced and synced to disk); values as they were leave the file alone, which spares that sync.
void Remember(QSettings& settings, const DeviceDetails& details) {
    if (settings.value(QStringLiteral("organization"), 0).toInt() != details.orgId) {
        settings.setValue(QStringLiteral("organization"), details.orgId);
    }
    if (settings.value(QStringLiteral("userName")).toString() != details.userName) {
        settings.setValue(QStringLiteral("userName"), details.userName);
    }
}

RegistrationDetails ToRegistration(const DeviceDetails& details) {
    RegistrationDetails registration;
    registration.name = details.deviceName.toStdString();
    registration.userName = details.userName.toStdString();
    registration.password = details.password.toStdString();
    registration.channels = static_cast<std::uint32_t>(details.channelCount);
    registration.orgId = static_cast<std::uint32_t>(details.orgId);
    registration.cameraTypes = details.cameraTypes;
    registration.firstNumber = details.firstNumber;
    return registration;
}

}  // namespace

void RunAddDeviceFlow(QWidget* parent, ProgramContext& context, const SelectedRowsSource& selectedRows) {
    std::vector<SelectedRow> selected = selectedRows();
    if (selected.empty()) {
        ShowMessage(parent, QString::fromLatin1(add_messages::kNoSelection),
                    QString::fromLatin1(add_messages::kNoSelectionCaption));
        return;
    }
    DeviceStore* store = context.Store();
    DeviceCatalogue* catalogue = context.Catalogue();
    if (store == nullptr || catalogue == nullptr || !store->SaveRefusal().empty()) {
        std::string why =
            store != nullptr ? store->SaveRefusal() : context.Paths().DatabasePath() + " cannot be opened";
        ShowMessage(parent, QString::fromLatin1(add_messages::kAddRefused).arg(QString::fromStdString(why)),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    std::size_t leftOut = 0;
    std::vector<RegistrationRow> rows = RowsToRegister(parent, *store, selected, leftOut);
    if (rows.empty()) {
        if (leftOut == selected.size()) {
            ShowMessage(parent, QString::fromLatin1(add_messages::kAllRegistered),
                        QString::fromLatin1(add_messages::kSummaryCaption));
        }
        return;
    }
    QSettings settings(QStringLiteral("Vantrel"), QStringLiteral("Vantrel"));
    settings.beginGroup(SettingsKey(context));
    DeviceManagementDialog dialog(context, parent);
    dialog.SetRowCount(static_cast<int>(rows.size()));
    dialog.SetLeftOut(static_cast<int>(leftOut));
    dialog.SetRemembered(settings.value(QStringLiteral("organization"), 0).toInt(),
                         settings.value(QStringLiteral("userName")).toString());
    if (!AskDetails(parent, dialog) || !AgreedToKey(parent, *store)) {
        return;
    }
    Remember(settings, dialog.Details());
    RegistrationDetails details = ToRegistration(dialog.Details());
    RegistrationReport report = RegisterDevices(*catalogue, *store, details, rows);
    explicit_bzero(details.password.data(), details.password.size());
    if (!report.saved) {
        ShowMessage(parent,
                    QString::fromLatin1(add_messages::kSaveFailed).arg(QString::fromStdString(report.saveProblem)),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    ShowSummary(parent, report);
}

}  // namespace vantrel
