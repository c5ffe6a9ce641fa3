#include "ui/add_device_flow.h"

#include <string.h>

#include <cstring>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "records/text_field.h"
#include "store/device_store.h"
#include "store/store_text.h"
#include "ui/device_management_dialog.h"
#include "ui/field_copy.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

// name + counter, or false when they do not fit (the dialog refuses such names, so this is a last guard)
bool AppendCounter(char (&name)[kTextFieldSize], int counter) {
    std::size_t length = std::strlen(name);
    int written = std::snprintf(name + length, sizeof name - length, "%d", counter);
    return written > 0 && static_cast<std::size_t>(written) < sizeof name - length;
}

}  // namespace

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

struct Skipped {
    QString name;
    QString address;
    QString reason;
};

QString SkipReasonText(AddRefusal refusal) {
    switch (refusal) {
        case AddRefusal::DuplicateName:
            return QStringLiteral("duplicate name");
        case AddRefusal::DuplicateAddress:
            return QStringLiteral("duplicate address");
        case AddRefusal::DuplicateDdns:
            return QStringLiteral("duplicate DDNS settings");
        case AddRefusal::UnknownOrganization:
            return QStringLiteral("organization unknown");
        case AddRefusal::StoreFailed:
        case AddRefusal::None:
        case AddRefusal::DuplicateOrganization:
            break;
    }
    return QStringLiteral("the database did not take it");
}

QString Summary(int registered, const std::vector<Skipped>& skipped) {
    QString text = registered == 1 ? QStringLiteral("1 device was registered.")
                                   : QStringLiteral("%1 devices were registered.").arg(registered);
    if (!skipped.empty()) {
        text += QStringLiteral("\n\nSkipped:");
        for (const Skipped& row : skipped) {
            text += QStringLiteral("\n%1 (%2): %3").arg(row.name, row.address, row.reason);
        }
    }
    return text;
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
    if (store != nullptr && !store->SaveRefusal().empty()) {
        ShowMessage(parent,
                    QString::fromLatin1(add_messages::kAddRefused).arg(QString::fromStdString(store->SaveRefusal())),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    DeviceManagementDialog dialog(context, parent);
    dialog.SetRowCount(static_cast<int>(rows.size()));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    rows = selectedRows();
    if (rows.empty()) {
        return;
    }
    const StoreCondition* condition = store != nullptr ? store->Condition() : nullptr;
    if (condition != nullptr && condition->keyMissing && !condition->newKeyAgreed) {
        if (!AskYesNo(parent,
                      QString::fromLatin1(add_messages::kAskNewKey)
                          .arg(QString::fromStdString(condition->keyPath), QString::fromStdString(condition->path)),
                      QString::fromLatin1(add_messages::kAskNewKeyCaption))) {
            return;
        }
        store->AgreeToNewKey();
    }
    DeviceCatalogue* catalogue = context.Catalogue();
    int counter = 1;
    int registered = 0;
    std::vector<Skipped> skipped;
    for (const SelectedRow& row : rows) {
        DeviceRecord record{};
        dialog.FillRecord(record);
        bool fits = AppendCounter(record.name, counter);
        ++counter;
        CopyText(record.host, row.address);
        record.port = ParsePortText(row.port);
        Skipped skip{QString::fromUtf8(record.name), row.address + QLatin1Char(':') + QString::number(record.port), {}};
        if (!fits) {
            skip.reason = QStringLiteral("name too long");
        } else if (const char* character = UnstorableCharacter(record.host)) {
            skip.reason = QStringLiteral("address holds %1").arg(QString::fromLatin1(character));
        } else if (catalogue == nullptr || store == nullptr) {
            skip.reason = SkipReasonText(AddRefusal::StoreFailed);
        } else if (store->FindDeviceByAddress(record.host, record.port) != 0) {
            skip.reason = QStringLiteral("already registered");
        } else {
            AddRefusal refusal = AddRefusal::None;
            std::int32_t id = catalogue->AddDevice(record, refusal);
            if (id != 0) {
                ++registered;
                catalogue->SetCameraTypes(id, dialog.cameraTypes.data(), static_cast<std::int32_t>(record.cameras));
            } else if (refusal == AddRefusal::StoreFailed && store->Condition() != nullptr &&
                       !store->Condition()->keyProblem.empty()) {
                skip.reason = QString::fromStdString(store->Condition()->keyProblem);
            } else {
                skip.reason = SkipReasonText(refusal);
            }
        }
        explicit_bzero(record.password, sizeof record.password);
        if (!skip.reason.isEmpty()) {
            skipped.push_back(std::move(skip));
        }
    }
    if (store == nullptr || store->Save() == 0) {
        QString why =
            store == nullptr || store->Condition() == nullptr || store->Condition()->saveProblem.empty()
                ? QString::fromStdString(context.Paths().DatabasePath()) + QStringLiteral(" cannot be written")
                : QString::fromStdString(store->Condition()->saveProblem);
        ShowMessage(parent, QString::fromLatin1(add_messages::kSaveFailed).arg(why),
                    QString::fromLatin1(add_messages::kSaveFailedCaption));
        return;
    }
    // another program changed the file meanwhile: what became a duplicate there was left out, and the
    // catalogue no longer matches the file
    if (const StoreCondition* saved = store->Condition()) {
        if (saved->reloaded && catalogue != nullptr) {
            catalogue->Reload();
        }
        for (const SkippedChange& change : saved->skipped) {
            if (change.host.empty()) {
                continue;
            }
            --registered;
            skipped.push_back(
                Skipped{QString::fromStdString(change.name),
                        QString::fromStdString(change.host) + QLatin1Char(':') + QString::number(change.port),
                        QString::fromLatin1(DescribeAddOutcome(change.reason)) +
                            QStringLiteral(" (added by another program meanwhile)")});
        }
    }
    ShowMessage(parent, Summary(registered, skipped), QString::fromLatin1(add_messages::kSummaryCaption));
}

}  // namespace vantrel
