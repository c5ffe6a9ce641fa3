#pragma once

// "Devices": every device of the database in the organization tree (devices whose organization is gone under
// "Without organization"), with Edit, Remove, Move, Check (a TCP connect per device) and Open web page. Every
// change is saved at once; when the save fails the operator is told and the window shows the file as it is.
// The search window feeds it its rows, so that each device is marked answering or not in the current round.

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "discovery/found_row.h"

class QAction;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantrel {

class DeviceStore;
class ProgramContext;

class DevicesWindow : public QDialog {
    Q_OBJECT

public:
    // Columns of the device tree.
    enum Column { kName, kAddress, kPort, kChannels, kUser, kOrganization, kAnswering, kCheck, kColumnCount };
    // Item data holding a device's id (organization items hold none).
    static constexpr int kDeviceIdRole = Qt::UserRole + 1;

    explicit DevicesWindow(ProgramContext& context, QWidget* parent = nullptr);
    // Calls off a running check and waits for it (each attempt ends within its bounded time).
    ~DevicesWindow() override;

    // The rows of the search's current round: a device answers when a row has its address and port. Names are
    // never compared: a device answering at another address stays "not answering".
    void ShowAnswers(const std::vector<FoundRow>& rows);

signals:
    // A change was saved: what the search marks as registered may differ now.
    void DevicesChanged();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Fill();
    // Updates, moves or removes the items of these devices after a change that touched only them; false when
    // one of them has no place in the tree as it stands (the caller fills it again).
    bool RefreshItems(const std::vector<std::uint32_t>& deviceIds);
    void UpdateAnswerMarks();
    void MarkAnswer(QTreeWidgetItem* item);
    std::vector<std::uint32_t> SelectedDevices() const;
    QTreeWidgetItem* ItemOf(std::uint32_t deviceId) const;
    void UpdateActions();
    // Applies change to the store and saves; on a refusal or a failed save tells the operator and goes back to
    // what the file holds. Either way the tree follows.
    void Commit(const std::vector<std::uint32_t>& deviceIds, const std::function<std::string(DeviceStore&)>& change,
                const QString& undone);

    void Edit();
    void Remove();
    void Move();
    void Check();
    void OpenWebPage();
    void ShowCheckResult(std::uint32_t deviceId, const QString& text);
    void StopCheck();

    ProgramContext& context_;
    QTreeWidget* tree_ = nullptr;
    std::map<std::int32_t, QTreeWidgetItem*> orgItems_;  // by organization id, as the last Fill made them
    QAction* editAction_ = nullptr;
    QAction* removeAction_ = nullptr;
    QAction* moveAction_ = nullptr;
    QAction* checkAction_ = nullptr;
    QAction* webAction_ = nullptr;
    std::unordered_set<std::string> answering_;  // "host:port" of the current round
    bool answersKnown_ = false;
    std::thread checker_;
    std::atomic<bool> cancelCheck_{false};
};

}  // namespace vantrel
