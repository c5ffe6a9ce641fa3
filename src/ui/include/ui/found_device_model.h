#pragma once

// The rows of the search list: one per device of the current search round, in order of first answer. The
// five columns "NO", "IP Address", "Port Number", "Subnet Mask", "Default Gateway" come first, then what the
// search learnt about the device: "Registered", "Adapter", "Seen", "Last Reply", "Sender", and what tells
// devices apart: "Protocols", "Name", "Model", "Location", "MAC", "Vendor", "Senders". A device that answered
// ONVIF only has no port, mask or gateway to show.

#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>
#include <vector>

#include "discovery/found_row.h"

namespace vantrel {

class FoundDeviceModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        kNumber,
        kAddress,
        kPort,
        kSubnetMask,
        kGateway,
        kRegistered,
        kAdapter,
        kSeen,
        kLastReply,
        kSender,
        kProtocols,
        kName,
        kModel,
        kLocation,
        kMac,
        kVendor,
        kSenders,
        kColumnCount
    };
    // What the list sorts by: numbers, addresses (host order) and times as numbers, names as texts.
    static constexpr int kSortRole = Qt::UserRole + 1;
    // What Copy puts on the clipboard: the cell's text, and a warning mark's meaning in words after it
    // ("10.1.0.7 (not the address the device announces)").
    static constexpr int kCopyRole = Qt::UserRole + 2;

    explicit FoundDeviceModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Texts, the marks (decoration) and their explanations (tool tip, as rich text that shows the plain
    // explanation: a device's own texts cannot format it), the sort key, the copied text; an invalid index
    // gives nothing.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Rows numbered above the last held row are appended, in one insertion per call; any other row replaces
    // the held row of its number (a newer state of that device).
    void Merge(const std::vector<FoundRow>& rows);
    // n of "k of n": the probes of the round sent so far.
    void SetProbeCount(std::uint32_t probes);
    void Clear();

    const FoundRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    // Every row in number order.
    const std::vector<FoundRow>& Rows() const { return rows_; }
    std::uint32_t ProbeCount() const { return probes_; }

private:
    std::vector<FoundRow> rows_;
    std::uint32_t probes_ = 0;
    QIcon registeredMark_;
    QIcon warningMark_;
};

}  // namespace vantrel
