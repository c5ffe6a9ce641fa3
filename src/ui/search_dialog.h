#pragma once

// "Vantrel": the list of every device that answered the search probe. Opening the window loads the
// catalogue, opens the endpoint and sends the probe (again 0.5 s and 1.5 s later, as after each Refresh).
// Replies are decoded on the receiver thread and handed to the window's thread in batches; the list is
// only ever changed there.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "discovery/found_device.h"
#include "ui/add_device_flow.h"

class QLabel;
class QPushButton;
class QTableView;

namespace vantrel {

class FoundDeviceModel;
class ProgramContext;

// Where the window's endpoint sends and listens; addresses and ports in host byte order.
struct SearchEndpointConfig {
    std::uint32_t destinationAddress = 0xFFFFFFFFu;  // 255.255.255.255
    std::uint16_t destinationPort = 5050;
    std::uint32_t localAddress = 0;  // every local address
    std::uint16_t localPort = 5050;
};

class SearchDialog : public QDialog {
    Q_OBJECT

public:
    // Delays of the repeated probe after opening and after each Refresh.
    static constexpr int kProbeDelaysMs[] = {0, 500, 1500};
    // Rows appended per turn of the event loop, so that a burst of replies never stalls the window.
    static constexpr std::size_t kMaxRowsPerBatch = 500;

    explicit SearchDialog(ProgramContext& context, QWidget* parent = nullptr);
    SearchDialog(ProgramContext& context, const SearchEndpointConfig& config, QWidget* parent = nullptr);
    // Stops the receiver thread first, then releases the catalogue.
    ~SearchDialog() override;

    // The first showing loads the catalogue, opens the endpoint and starts the probes.
    void setVisible(bool visible) override;

    // Empties the list and searches again; reopens the endpoint if it could not be opened before.
    void Refresh();
    // The add-device flow over the selected rows.
    void OnAdd();
    // The selected rows' address and port texts, in row order.
    std::vector<SelectedRow> SelectedRows() const;

    FoundDeviceModel* Model() const { return model_; }
    QTableView* List() const { return list_; }
    QLabel* StatusLine() const { return status_; }
    bool EndpointOpen() const;
    // The endpoint's bound port, 0 while it is not open (useful with a configured local port of 0).
    std::uint16_t LocalPort() const;
    // Probes sent so far (whether or not the send succeeded).
    int ProbesSent() const { return probesSent_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class Receiver;

    void InitDialog();
    void OpenEndpoint();
    void StartProbes();
    void OnProbeTimer();
    void SendProbe();
    // On the receiver thread: queue one decoded entry for the window's thread.
    void Enqueue(const FoundDevice& device);
    // On the window's thread: append what arrived, at most kMaxRowsPerBatch rows per call.
    void DrainPending();
    void UpdateStatus();
    void FitNumberColumn();
    void ShowAbout();

    ProgramContext& context_;
    FoundDeviceModel* model_ = nullptr;
    QTableView* list_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QTimer probeTimer_;  // the window's timer 1
    std::size_t nextProbe_ = 0;
    int probesSent_ = 0;
    bool initialised_ = false;
    QString openError_;

    std::unordered_set<std::uint64_t> listed_;  // identities of the rows, window's thread only

    std::mutex pendingMutex_;  // held only to move entries in or out, never while waiting for anything
    std::vector<FoundDevice> pending_;
    bool drainQueued_ = false;

    std::unique_ptr<Receiver> receiver_;
};

}  // namespace vantrel
