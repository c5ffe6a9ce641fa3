#include "search_details_dialog.h"

#include <arpa/inet.h>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace vantrel {
namespace {

enum AdapterColumn { kAdapterName, kNativeProbes, kWsProbes, kReceived, kAccepted, kRejected, kAdapterColumns };

QString AdapterName(const AdapterStatistics& adapter) {
    if (adapter.index == 0) {
        return QStringLiteral("(unknown adapter)");
    }
    return QString::fromLocal8Bit(adapter.name.data(), static_cast<int>(adapter.name.size()));
}

// The problems and drops below the table, one per line; "No problems found." when there are none.
QString NotesText(const SessionStatus& status) {
    QStringList lines;
    for (const std::string& check : status.checks) {
        lines << QString::fromStdString(check);
    }
    for (const SenderDrops& drops : status.droppedBySender) {
        lines << QStringLiteral("%1 replies dropped from %2: more devices than one sender may announce")
                     .arg(drops.dropped)
                     .arg(QString::fromStdString(DottedDecimal(drops.sender)));
    }
    if (!status.problem.empty()) {
        lines.prepend(QString::fromStdString(status.problem));
    }
    return lines.isEmpty() ? QStringLiteral("No problems found.") : lines.join(QLatin1Char('\n'));
}

}  // namespace

QString RejectedText(const AdapterStatistics& adapter) {
    QStringList reasons;
    for (std::size_t reason = 0; reason < kRejectReasonCount; ++reason) {
        if (adapter.rejected[reason] != 0) {
            reasons << QStringLiteral("%1 %2")
                           .arg(adapter.rejected[reason])
                           .arg(QLatin1String(DescribeRejectReason(static_cast<RejectReason>(reason))));
        }
    }
    const QString total = QString::number(adapter.Rejected());
    return reasons.isEmpty() ? total : QStringLiteral("%1 (%2)").arg(total, reasons.join(QStringLiteral(", ")));
}

SearchDetailsDialog::SearchDetailsDialog(std::function<SessionStatus()> status, QWidget* parent)
    : QDialog(parent), status_(std::move(status)) {
    setObjectName(QStringLiteral("searchDetailsDialog"));
    setWindowTitle(QStringLiteral("Search Details"));
    adapters_ = new QTableWidget(0, kAdapterColumns, this);
    adapters_->setObjectName(QStringLiteral("adapterStatistics"));
    adapters_->setHorizontalHeaderLabels({QStringLiteral("Adapter"), QStringLiteral("Native Probes"),
                                          QStringLiteral("WS-Discovery Probes"), QStringLiteral("Received"),
                                          QStringLiteral("Accepted"), QStringLiteral("Rejected")});
    adapters_->verticalHeader()->hide();
    adapters_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    adapters_->horizontalHeader()->setStretchLastSection(true);
    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("searchNotes"));
    notes_->setTextFormat(Qt::PlainText);
    notes_->setWordWrap(true);
    notes_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* again = buttons->addButton(QStringLiteral("&Refresh"), QDialogButtonBox::ActionRole);
    again->setObjectName(QStringLiteral("refreshButton"));
    connect(again, &QPushButton::clicked, this, [this] { Show(status_()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(adapters_, 1);
    layout->addWidget(notes_);
    layout->addWidget(buttons);
    Show(status_());
    resize(720, 320);
}

void SearchDetailsDialog::Show(const SessionStatus& status) {
    adapters_->setRowCount(static_cast<int>(status.adapters.size()));
    int row = 0;
    for (const AdapterStatistics& adapter : status.adapters) {
        const QString cells[kAdapterColumns] = {AdapterName(adapter),
                                                QString::number(adapter.nativeProbesSent),
                                                QString::number(adapter.wsDiscoveryProbesSent),
                                                QString::number(adapter.received),
                                                QString::number(adapter.accepted),
                                                RejectedText(adapter)};
        for (int column = 0; column < kAdapterColumns; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(Qt::convertFromPlainText(cells[column]));
            adapters_->setItem(row, column, item);
        }
        ++row;
    }
    adapters_->resizeColumnsToContents();
    notes_->setText(NotesText(status));
}

}  // namespace vantrel
