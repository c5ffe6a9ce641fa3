#pragma once

// "Vantrel": the list of every device that answered the search probe. Opening the window loads the
// catalogue, tells the search which devices are registered, and starts the search session, which probes,
// decodes and lists on its own thread. The window takes the session's rows on its own thread, in batches,
// after one queued call per burst; the list is only ever changed there.
//
// Its parts carry object names: the list "deviceList" over the model "foundDevices", the status line
// "statusLine", the buttons "addButton", "refreshButton", "closeButton", the context menu "listMenu" and its
// actions "addAction", "refreshAction", "copyAction", "selectAllAction", "searchNetworksAction",
// "exportAction", "detailsAction", "probeAddressAction", "aboutAction", and the headings' menu "columnMenu"
// with one checkable action per column that can be hidden.

#include <QDialog>
#include <QFutureWatcher>
#include <QTimer>
#include <memory>
#include <vector>

#include "discovery/address_probe.h"
#include "discovery/search_session.h"
#include "ui/add_device_flow.h"
#include "ui/window_settings.h"

class QAction;
class QMenu;
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
    // Other addresses, probe delays or limits (a site's own port, tests, benchmarks).
    SearchDialog(ProgramContext& context, SearchSessionOptions options, QWidget* parent = nullptr);
    // Stops the search first, then releases the catalogue.
    ~SearchDialog() override;

    // The first showing loads the catalogue, marks the registered devices and starts the search.
    void setVisible(bool visible) override;

signals:
    // A search round began: at the first showing, on Refresh, and after "Search networks…".
    void SearchStarted();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Enter on the list starts Add.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildList();
    void BuildButtons();
    void BuildActions();
    void BuildLayout();
    // The headings' menu: every column but "NO" and "IP Address" can be hidden; the choice is remembered.
    void BuildColumnMenu();
    void ShowColumn(int column, bool shown);
    QAction* AddWindowAction(const char* name, const QString& text, const QKeySequence& shortcut,
                             void (SearchDialog::*slot)());
    void SizeColumns();

    void InitDialog();
    void RestoreNetworks();
    void MarkRegistered();
    void StartSearch();
    // On the window's thread: at most kMaxRowsPerBatch rows from the session, then the status.
    void TakePending();
    void ShowStatus(const SessionStatus& status);
    // After the list changed: paints now, or holds the paint until kListPaintIntervalMs after the last one.
    void PaceListPaint();
    void OnListPaintDue();

    // Empties the list and searches again; reopens the endpoint if it could not be opened before.
    void Refresh();
    // The add-device flow over the selected rows; the registered marks are renewed after it.
    void OnAdd();
    // Every row, or the selected ones, from the top of the list down as it is sorted now.
    std::vector<const FoundRow*> RowsAsShown(bool selectedOnly) const;
    std::vector<SelectedRow> SelectedRows() const;
    // The selected rows as the list shows them, tab-separated under a line of the headings, the marks in
    // words; empty when none is selected.
    QString SelectionText() const;
    void CopySelection();
    void SelectAll();
    // "Search networks…": asks for networks beyond the local one, remembers them and searches them too.
    void SearchNetworks();
    // "Export…": the list as it is sorted to a CSV or JSON file; the status line says where.
    void Export();
    void ShowAbout();
    // "Search details…": the round's statistics per adapter and the problems found.
    void ShowDetails();
    // "Devices…": the registered devices, marked answering or not from this window's rows.
    void ShowDevices();
    // "Probe address…": both probes to one address; the status line says what came back.
    void ProbeOneAddress();
    void OnAddressProbed();

    ProgramContext& context_;
    WindowSettings settings_;
    std::unique_ptr<SearchSession> session_;
    FoundDeviceModel* model_ = nullptr;
    QSortFilterProxyModel* sorted_ = nullptr;
    QTableView* list_ = nullptr;
    ElidedLabel* status_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QPushButton* devicesButton_ = nullptr;
    QMenu* listMenu_ = nullptr;
    QMenu* columnMenu_ = nullptr;
    AddressProbeOptions probeOptions_;
    std::uint32_t probedAddress_ = 0;
    QFutureWatcher<AddressProbeResult>* addressProbe_ = nullptr;
    QTimer listPaintHold_;
    bool listPaintHeld_ = false;
    bool initialised_ = false;
    std::vector<SearchTarget> targets_;
    // What the last command did ("3 devices written to …"), after the search's status until the next round.
    QString notice_;
};

}  // namespace vantrel
