#pragma once

// The rows of the search list: one per device, in order of first answer, with the five columns
// "NO", "IP Address", "Port Number", "Subnet Mask", "Default Gateway".

#include <QAbstractTableModel>
#include <vector>

#include "discovery/found_device.h"

namespace vantrel {

class FoundDeviceModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kNumber, kAddress, kPort, kSubnetMask, kGateway, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display texts only: the 1-based row number, then the entry's texts; an invalid index gives nothing.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Appends the entries as rows in one insertion; nothing for an empty batch.
    void Append(const std::vector<FoundDevice>& devices);
    void Clear();
    const FoundDevice& Device(int row) const { return devices_[static_cast<std::size_t>(row)]; }

private:
    std::vector<FoundDevice> devices_;
};

}  // namespace vantrel
