#include "ui/found_device_model.h"

#include <arpa/inet.h>

#include <QDateTime>
#include <QTextDocument>
#include <algorithm>
#include <bitset>

#include "resources.h"

namespace vantrel {
namespace {

QString Dotted(std::uint32_t networkOrderAddress) {
    return QString::fromStdString(DottedDecimal(networkOrderAddress));
}

// "10.1.0.0/24" for an adapter's address and mask
QString SubnetText(std::uint32_t networkOrderAddress, std::uint32_t networkOrderMask) {
    int prefix = static_cast<int>(std::bitset<32>(ntohl(networkOrderMask)).count());
    return QStringLiteral("%1/%2").arg(Dotted(networkOrderAddress & networkOrderMask)).arg(prefix);
}

QDateTime ReplyTime(std::int64_t unixNs) {
    return QDateTime::fromMSecsSinceEpoch(unixNs / 1000000);
}

QString AdapterName(const FoundRow& row) {
    return QString::fromLocal8Bit(row.adapterName, static_cast<int>(qstrnlen(row.adapterName, kAdapterNameSize)));
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

QString ProtocolsText(const FoundRow& row) {
    QStringList names;
    if (row.Answered(kProtocolNative)) {
        names << QStringLiteral("native");
    }
    if (row.Answered(kProtocolOnvif)) {
        names << QStringLiteral("ONVIF");
    }
    return names.join(QStringLiteral(", "));
}

QString SendersText(const FoundRow& row) {
    QStringList addresses;
    for (std::uint32_t sender : row.senders) {
        addresses << Dotted(sender);
    }
    return addresses.join(QStringLiteral(", "));
}

// What the native reply announced: nothing for a device that answered ONVIF only.
QString AnnouncedText(const FoundRow& row, int column) {
    if (!row.Answered(kProtocolNative)) {
        return {};
    }
    switch (column) {
        case FoundDeviceModel::kPort:
            return row.portKnown ? QString::fromStdString(PortText(row.device)) : QString();
        case FoundDeviceModel::kSubnetMask:
            return QString::fromStdString(SubnetMaskText(row.device));
        case FoundDeviceModel::kGateway:
            return QString::fromStdString(GatewayText(row.device));
        default:
            return {};
    }
}

QString LearntText(const FoundRow& row, int column) {
    switch (column) {
        case FoundDeviceModel::kProtocols:
            return ProtocolsText(row);
        case FoundDeviceModel::kName:
            return Utf8(row.name);
        case FoundDeviceModel::kModel:
            return Utf8(row.model);
        case FoundDeviceModel::kLocation:
            return Utf8(row.location);
        case FoundDeviceModel::kMac:
            return QString::fromStdString(row.mac);
        case FoundDeviceModel::kVendor:
            return Utf8(row.vendor);
        case FoundDeviceModel::kSenders:
            return SendersText(row);
        default:
            return {};
    }
}

QString Text(const FoundRow& row, int column, std::uint32_t probes) {
    switch (column) {
        case FoundDeviceModel::kNumber:
            return QString::number(row.number);
        case FoundDeviceModel::kAddress:
            return QString::fromStdString(AddressText(row.device));
        case FoundDeviceModel::kPort:
        case FoundDeviceModel::kSubnetMask:
        case FoundDeviceModel::kGateway:
            return AnnouncedText(row, column);
        case FoundDeviceModel::kRegistered:
            return row.registered ? QStringLiteral("Yes") : QString();
        case FoundDeviceModel::kAdapter:
            return AdapterName(row);
        case FoundDeviceModel::kSeen:
            return probes == 0 ? QString::number(row.probesSeen)
                               : QStringLiteral("%1 of %2").arg(row.probesSeen).arg(std::max(probes, row.probesSeen));
        case FoundDeviceModel::kLastReply:
            return row.lastReplyNs == 0 ? QString() : ReplyTime(row.lastReplyNs).toString(QStringLiteral("HH:mm:ss"));
        case FoundDeviceModel::kSender:
            return row.senderAddress == 0 ? QString() : Dotted(row.senderAddress);
        default:
            return LearntText(row, column);
    }
}

QString LearntToolTip(const FoundRow& row, int column) {
    switch (column) {
        case FoundDeviceModel::kSubnetMask:
            return Utf8(row.warning);
        case FoundDeviceModel::kProtocols: {
            QStringList lines;
            lines << (row.Answered(kProtocolNative) ? QStringLiteral("Answered the search on UDP port 5050.")
                                                    : QStringLiteral("Answers ONVIF only: its own port is not known."));
            if (row.Answered(kProtocolOnvif)) {
                lines << QStringLiteral("Answered ONVIF WS-Discovery as %1.").arg(Utf8(row.endpoint));
            }
            for (const std::string& url : row.serviceUrls) {
                lines << QStringLiteral("Service: %1").arg(Utf8(url));
            }
            return lines.join(QLatin1Char('\n'));
        }
        case FoundDeviceModel::kName:
        case FoundDeviceModel::kModel:
        case FoundDeviceModel::kLocation:
        case FoundDeviceModel::kVendor:
            return LearntText(row, column);  // whole, where the cell cuts it
        case FoundDeviceModel::kMac:
            return row.mac.empty() ? QString()
                                   : QStringLiteral(
                                         "Hardware address of the device as this computer's neighbour "
                                         "table or the device itself gives it.");
        case FoundDeviceModel::kSenders:
            if (row.conflict) {
                return QStringLiteral(
                           "Different senders, or different replies, answered for %1 port %2: several devices "
                           "with one (factory-default) address, or a forged reply. Senders: %3.")
                    .arg(QString::fromStdString(AddressText(row.device)), AnnouncedText(row, FoundDeviceModel::kPort),
                         SendersText(row));
            }
            return {};
        default:
            return {};
    }
}

QString ToolTip(const FoundRow& row, int column, std::uint32_t probes) {
    switch (column) {
        case FoundDeviceModel::kRegistered:
            return row.registered ? QStringLiteral("Already in the device database with this address and port.")
                                  : QString();
        case FoundDeviceModel::kAdapter:
            if (row.adapterIndex == 0) {
                return QStringLiteral("The adapter this reply arrived on is not known.");
            }
            if (row.outsideAdapterSubnet) {
                return QStringLiteral(
                           "%1 is not in the subnet of %2 (%3). The device answered, but it cannot be reached until "
                           "its address is changed.")
                    .arg(QString::fromStdString(AddressText(row.device)), AdapterName(row),
                         SubnetText(row.adapterAddress, row.adapterMask));
            }
            return QStringLiteral("Reply arrived on %1 (%2).")
                .arg(AdapterName(row), SubnetText(row.adapterAddress, row.adapterMask));
        case FoundDeviceModel::kSeen:
            return QStringLiteral("Answered %1 of the %2 probes of this search; %3 replies in all.")
                .arg(row.probesSeen)
                .arg(std::max(probes, row.probesSeen))
                .arg(row.replies);
        case FoundDeviceModel::kLastReply:
            return row.lastReplyNs == 0
                       ? QString()
                       : ReplyTime(row.lastReplyNs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz t"));
        case FoundDeviceModel::kSender:
            if (row.senderMismatch) {
                return QStringLiteral(
                           "The reply came from %1, not from the address it announces (%2): a device answering for "
                           "another one, or a forged reply.")
                    .arg(Dotted(row.senderAddress), QString::fromStdString(AddressText(row.device)));
            }
            return row.senderAddress == 0 ? QString()
                                          : QStringLiteral("Reply sent from %1, port %2.")
                                                .arg(Dotted(row.senderAddress))
                                                .arg(row.senderPort);
        default:
            return LearntToolTip(row, column);
    }
}

// A warning mark in words, empty where the cell has none.
QString MarkMeaning(const FoundRow& row, int column) {
    if (column == FoundDeviceModel::kAdapter && row.outsideAdapterSubnet) {
        return QStringLiteral("not in its subnet %1").arg(SubnetText(row.adapterAddress, row.adapterMask));
    }
    if (column == FoundDeviceModel::kSender && row.senderMismatch) {
        return QStringLiteral("not the address the device announces");
    }
    if (column == FoundDeviceModel::kSubnetMask && !row.warning.empty()) {
        return Utf8(row.warning);
    }
    if (column == FoundDeviceModel::kSenders && row.conflict) {
        return QStringLiteral("conflict: several devices answer for this address and port");
    }
    return {};
}

QString CopyText(const FoundRow& row, int column, std::uint32_t probes) {
    const QString text = Text(row, column, probes);
    const QString meaning = MarkMeaning(row, column);
    return meaning.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, meaning);
}

QVariant SortKey(const FoundRow& row, int column) {
    switch (column) {
        case FoundDeviceModel::kNumber:
            return row.number;
        case FoundDeviceModel::kAddress:
            return ntohl(row.device.address);
        case FoundDeviceModel::kPort:
            return row.Answered(kProtocolNative) && row.portKnown ? static_cast<int>(row.device.port) : -1;
        case FoundDeviceModel::kSubnetMask:
            return ntohl(row.device.subnetMask);
        case FoundDeviceModel::kGateway:
            return ntohl(row.device.gateway);
        case FoundDeviceModel::kRegistered:
            return row.registered ? 1 : 0;
        case FoundDeviceModel::kAdapter:
            // warned rows next to each other within an adapter
            return AdapterName(row) + (row.outsideAdapterSubnet ? QStringLiteral("\x01") : QString());
        case FoundDeviceModel::kSeen:
            return row.probesSeen;
        case FoundDeviceModel::kLastReply:
            return static_cast<qlonglong>(row.lastReplyNs);
        case FoundDeviceModel::kSender:
            return ntohl(row.senderAddress);
        case FoundDeviceModel::kProtocols:
            return row.protocols;
        case FoundDeviceModel::kSenders:
            // conflicts together, the most senders first when sorted descending
            return static_cast<qlonglong>(row.conflict) << 40 | static_cast<qlonglong>(row.senders.size()) << 32 |
                   (row.senders.empty() ? 0 : ntohl(row.senders.front()));
        default:
            return LearntText(row, column);
    }
}

}  // namespace

FoundDeviceModel::FoundDeviceModel(QObject* parent)
    : QAbstractTableModel(parent), registeredMark_(RegisteredIcon()), warningMark_(WarningIcon()) {}

int FoundDeviceModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FoundDeviceModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FoundDeviceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount) {
        return {};
    }
    const FoundRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return Text(row, index.column(), probes_);
        case Qt::ToolTipRole: {
            QString tip = ToolTip(row, index.column(), probes_);
            return tip.isEmpty() ? QVariant() : QVariant(Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal));
        }
        case Qt::DecorationRole:
            if (index.column() == kRegistered && row.registered) {
                return registeredMark_;
            }
            return MarkMeaning(row, index.column()).isEmpty() ? QVariant() : QVariant(warningMark_);
        case kSortRole:
            return SortKey(row, index.column());
        case kCopyRole:
            return CopyText(row, index.column(), probes_);
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
        case kRegistered:
            return QStringLiteral("Registered");
        case kAdapter:
            return QStringLiteral("Adapter");
        case kSeen:
            return QStringLiteral("Seen");
        case kLastReply:
            return QStringLiteral("Last Reply");
        case kSender:
            return QStringLiteral("Sender");
        case kProtocols:
            return QStringLiteral("Protocols");
        case kName:
            return QStringLiteral("Name");
        case kModel:
            return QStringLiteral("Model");
        case kLocation:
            return QStringLiteral("Location");
        case kMac:
            return QStringLiteral("MAC");
        case kVendor:
            return QStringLiteral("Vendor");
        case kSenders:
            return QStringLiteral("Senders");
        default:
            return {};
    }
}

void FoundDeviceModel::Merge(const std::vector<FoundRow>& rows) {
    std::uint32_t last = rows_.empty() ? 0 : rows_.back().number;
    std::vector<FoundRow> added;
    int firstChanged = rowCount();
    int lastChanged = -1;
    for (const FoundRow& row : rows) {
        if (row.number > last) {
            added.push_back(row);
            continue;
        }
        // numbers ascend with the rows, so the held row is found by halving
        auto held = std::lower_bound(rows_.begin(), rows_.end(), row.number,
                                     [](const FoundRow& r, std::uint32_t number) { return r.number < number; });
        if (held == rows_.end() || held->number != row.number) {
            continue;
        }
        *held = row;
        int at = static_cast<int>(held - rows_.begin());
        firstChanged = std::min(firstChanged, at);
        lastChanged = std::max(lastChanged, at);
    }
    if (lastChanged >= 0) {
        emit dataChanged(index(firstChanged, 0), index(lastChanged, kColumnCount - 1));
    }
    if (added.empty()) {
        return;
    }
    // a row handed out of order is placed by its number; of two states of one new row the later one counts
    std::stable_sort(added.begin(), added.end(),
                     [](const FoundRow& a, const FoundRow& b) { return a.number < b.number; });
    std::vector<FoundRow> fresh;
    fresh.reserve(added.size());
    for (const FoundRow& row : added) {
        if (!fresh.empty() && fresh.back().number == row.number) {
            fresh.back() = row;
        } else {
            fresh.push_back(row);
        }
    }
    int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(fresh.size()) - 1);
    rows_.insert(rows_.end(), fresh.begin(), fresh.end());
    endInsertRows();
}

void FoundDeviceModel::SetProbeCount(std::uint32_t probes) {
    if (probes == probes_) {
        return;
    }
    probes_ = probes;
    if (!rows_.empty()) {
        emit dataChanged(index(0, kSeen), index(rowCount() - 1, kSeen));
    }
}

void FoundDeviceModel::Clear() {
    probes_ = 0;
    if (rows_.empty()) {
        return;
    }
    beginResetModel();
    rows_.clear();
    endResetModel();
}

}  // namespace vantrel
