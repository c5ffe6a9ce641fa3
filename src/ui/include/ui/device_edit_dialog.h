#pragma once

// "Edit Device": one registered device's name, address, port, user name, password (empty keeps the stored one),
// channel count, camera types and DDNS settings. OK checks the change as the store would take it (the same
// rules as adding) and stays open on a problem; the edited values are then the dialog's result.

#include <QDialog>
#include <array>
#include <cstdint>

#include "records/records.h"
#include "ui/ui_text_table.h"

class QCheckBox;
class QLineEdit;

namespace vantrel {

class DeviceStore;

struct DeviceEdit {
    DeviceRecord record{};  // password empty: keep the stored one
    std::array<std::int32_t, kMaxChannels> cameraTypes{};
};

class DeviceEditDialog : public QDialog {
    Q_OBJECT

public:
    // start: the device as stored (its password empty).
    // texts: the table the camera type dialog takes its texts from.
    DeviceEditDialog(DeviceStore& store, const DeviceEdit& start, UiTextTable texts, QWidget* parent = nullptr);
    ~DeviceEditDialog() override;

    // The values after OK; the password wiped once the caller has used it.
    const DeviceEdit& Result() const { return edit_; }

public slots:
    void accept() override;

private:
    // The fields into edit_; false with a message when the port or channel count is not a number.
    bool ReadFields();
    void EditCameraTypes();

    DeviceStore& store_;
    DeviceEdit edit_;
    UiTextTable texts_;
    QLineEdit* name_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* channels_ = nullptr;
    QCheckBox* ddns_ = nullptr;
    QLineEdit* ddnsHost_ = nullptr;
    QLineEdit* ddnsPort_ = nullptr;
};

// Asks for an organization in a tree of the catalogue's organizations (the top level shown as "Organization").
// false when cancelled.
class DeviceCatalogue;
bool ChooseOrganization(QWidget* parent, const DeviceCatalogue& catalogue, std::int32_t& orgId);

}  // namespace vantrel
