#include "ui/found_device_model.h"

namespace vantrel {

int FoundDeviceModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(devices_.size());
}

int FoundDeviceModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FoundDeviceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount()) {
        return {};
    }
    const FoundDevice& device = devices_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
        case kNumber:
            return QString::number(index.row() + 1);
        case kAddress:
            return QString::fromStdString(AddressText(device));
        case kPort:
            return QString::fromStdString(PortText(device));
        case kSubnetMask:
            return QString::fromStdString(SubnetMaskText(device));
        case kGateway:
            return QString::fromStdString(GatewayText(device));
        default:
            return {};
    }
}

QVariant FoundDeviceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kNumber:
            return QStringLiteral("NO");
        case kAddress:
            return QStringLiteral("IP Address");
        case kPort:
            return QStringLiteral("Port Number");
        case kSubnetMask:
            return QStringLiteral("Subnet Mask");
        case kGateway:
            return QStringLiteral("Default Gateway");
        default:
            return {};
    }
}

void FoundDeviceModel::Append(const std::vector<FoundDevice>& devices) {
    if (devices.empty()) {
        return;
    }
    int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(devices.size()) - 1);
    devices_.insert(devices_.end(), devices.begin(), devices.end());
    endInsertRows();
}

void FoundDeviceModel::Clear() {
    if (devices_.empty()) {
        return;
    }
    beginResetModel();
    devices_.clear();
    endResetModel();
}

}  // namespace vantrel
