#pragma once

// "Search details": why a device may be missing, for the round under way. Per local adapter the probes sent
// (native and WS-Discovery), the datagrams received, accepted and rejected (with the reasons); then the
// problems found when the search started and the senders whose replies were dropped for exceeding their
// share. A picture of the moment it opened; Refresh in it takes a new one.

#include <QDialog>
#include <functional>

#include "discovery/found_row.h"

class QLabel;
class QTableWidget;

namespace vantrel {

// "3 (2 not a reply, 1 impossible address)"; "0".
QString RejectedText(const AdapterStatistics& adapter);

class SearchDetailsDialog : public QDialog {
    Q_OBJECT

public:
    // status gives the picture each time one is taken.
    explicit SearchDetailsDialog(std::function<SessionStatus()> status, QWidget* parent = nullptr);

private:
    void Show(const SessionStatus& status);

    std::function<SessionStatus()> status_;
    QTableWidget* adapters_ = nullptr;
    QLabel* notes_ = nullptr;
};

}  // namespace vantrel
