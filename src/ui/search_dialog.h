#pragma once

// "Vantrel": the list of every device that answered the search probe. Opening the window loads the
// catalogue, tells the search which devices are registered, and starts the search session, which probes,
// decodes and lists on its own thread. The window takes the session's rows on its own thread, in batches,
// after one queued call per burst; the list is only ever changed there.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "discovery/search_session.h"
#include "ui/add_device_flow.h"

class QAction;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace vantrel {

class DeviceCatalogue;
class ElidedLabel;
class FoundDeviceModel;
class ProgramContext;

// The catalogue's devices as the search marks them: by host and port, and by name; empty without a catalogue.
std::shared_ptr<RegisteredDevices> RegisteredDevicesOf(const DeviceCatalogue* catalogue);

class SearchDialog : public QDialog {
    Q_OBJECT

public:
    // Rows taken from the session per turn of the event loop, so that a burst of replies never stalls the window.
    static constexpr std::size_t kMaxRowsPerBatch = 500;
    // While rows pour in the list is painted at most this often: a paint of every visible cell costs about as
    // much as taking a batch, and an operator cannot read faster than 25 pictures a second anyway.
    static constexpr int kListPaintIntervalMs = 40;

    explicit SearchDialog(ProgramContext& context, QWidget* parent = nullptr);
    // Other addresses, probe delays or limits (tests, benchmarks).
    SearchDialog(ProgramContext& context, SearchSessionOptions options, QWidget* parent = nullptr);
    // Stops the search first, then releases the catalogue.
    ~SearchDialog() override;

    // The first showing loads the catalogue, marks the registered devices and starts the search.
    void setVisible(bool visible) override;

    // Empties the list and searches again; reopens the endpoint if it could not be opened before.
    void Refresh();
    // The add-device flow over the selected rows; the registered marks are renewed after it.
    void OnAdd();
    // The selected rows' address and port texts, in the order the list shows them.
    std::vector<SelectedRow> SelectedRows() const;
    // The selected rows as the list shows them, tab-separated under a line of the headings; empty when none
    // is selected.
    QString SelectionText() const;
    // SelectionText to the clipboard (nothing when no row is selected).
    void CopySelection();
    void SelectAll();
    // "Search networks…": asks for networks beyond the local one and searches them too.
    void SearchNetworks();
    // "Export…": the found list to a CSV or JSON file.
    void Export();
    // "Devices…": the registered devices, marked answering or not from this window's rows.
    void ShowDevices();

    // The rows in order of first answer, and the list's view of them (sorted as the operator chose).
    FoundDeviceModel* Model() const { return model_; }
    QSortFilterProxyModel* SortedModel() const { return sorted_; }
    QTableView* List() const { return list_; }
    QLabel* StatusLine() const;
    bool EndpointOpen() const;
    // The endpoint's bound port, 0 while it is not open (useful with a configured local port of 0).
    std::uint16_t LocalPort() const;
    // Probes sent since the window opened, over all rounds.
    int ProbesSent() const;
    // The networks searched beyond the local one.
    const std::vector<SearchTarget>& Targets() const { return targets_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Enter on the list starts Add.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InitDialog();
    void MarkRegistered();
    void StartSearch();
    // On the window's thread: at most kMaxRowsPerBatch rows from the session, then the status.
    void TakePending();
    void ShowStatus(const SessionStatus& status);
    // After the list changed: paints now, or holds the paint until kListPaintIntervalMs after the last one.
    void PaceListPaint();
    void OnListPaintDue();
    void SizeColumns();
    QAction* AddWindowAction(const QString& text, const QKeySequence& shortcut, void (SearchDialog::*slot)());
    void ShowAbout();

    ProgramContext& context_;
    std::unique_ptr<SearchSession> session_;
    FoundDeviceModel* model_ = nullptr;
    QSortFilterProxyModel* sorted_ = nullptr;
    QTableView* list_ = nullptr;
    ElidedLabel* status_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QAction* addAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* selectAllAction_ = nullptr;
    QAction* networksAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* devicesAction_ = nullptr;
    QPushButton* devicesButton_ = nullptr;
    QTimer listPaintHold_;
    bool listPaintHeld_ = false;
    bool initialised_ = false;
    int probesOfEarlierRounds_ = 0;
    std::vector<SearchTarget> targets_;
};

}  // namespace vantrel
