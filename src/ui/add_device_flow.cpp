#include "ui/add_device_flow.h"

#include <string.h>

#include <cstring>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "store/device_store.h"
#include "store/store_text.h"
#include "ui/device_management_dialog.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

void CopyText(char (&field)[kTextFieldSize], const QString& text) {
    QByteArray bytes = text.toUtf8();
    std::memset(field, 0, sizeof field);
    CopyToField(field, sizeof field, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

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

void RunAddDeviceFlow(QWidget* parent, ProgramContext& context, const SelectedRowsSource& selectedRows) {
    std::vector<SelectedRow> rows = selectedRows();
    if (rows.empty()) {
        ShowMessage(parent, QString::fromLatin1(add_messages::kNoSelection),
                    QString::fromLatin1(add_messages::kNoSelectionCaption));
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
    DeviceCatalogue* catalogue = context.Catalogue();
    int counter = 1;
    for (const SelectedRow& row : rows) {
        DeviceRecord record{};
        dialog.FillRecord(record);
        bool fits = AppendCounter(record.name, counter);
        ++counter;
        CopyText(record.host, row.address);
        record.port = ParsePortText(row.port);
        if (!fits || catalogue == nullptr) {
            continue;
        }
        std::int32_t id = catalogue->AddDevice(record);
        explicit_bzero(record.password, sizeof record.password);
        if (id != 0) {
            catalogue->SetCameraTypes(id, dialog.cameraTypes.data(), static_cast<std::int32_t>(record.cameras));
        }
    }
    DeviceStore* store = context.Store();
    if (store == nullptr || store->Save() == 0) {
        ShowMessage(
            parent,
            QString::fromLatin1(add_messages::kSaveFailed).arg(QString::fromStdString(context.Paths().DatabasePath())),
            QString::fromLatin1(add_messages::kSaveFailedCaption));
    }
}

}  // namespace vantrel
