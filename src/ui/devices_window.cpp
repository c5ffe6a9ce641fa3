#include "ui/devices_window.h"

#include <string.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>
#include <map>

#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "context/program_context.h"
#include "discovery/found_device.h"
#include "discovery/tcp_check.h"
#include "org_tree.h"
#include "store/device_store.h"
#include "ui/device_edit_dialog.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

constexpr const char* kCaption = "Devices";
// Names a question lists before it says how many more there are.
constexpr int kNamesAsked = 10;

std::string AnswerKey(const std::string& host, std::uint32_t port) {
    return host + ':' + std::to_string(port & 0xFFFFu);
}

void ShowDevice(QTreeWidgetItem* item, const DeviceRecord& device, const std::map<std::int32_t, std::string>& paths) {
    item->setText(DevicesWindow::kName, QString::fromUtf8(device.name));
    item->setText(DevicesWindow::kAddress, QString::fromUtf8(device.host));
    item->setText(DevicesWindow::kPort, QString::number(device.port & 0xFFFFu));
    item->setText(DevicesWindow::kChannels, QString::number(device.cameras & 0xFFFFu));
    item->setText(DevicesWindow::kUser, QString::fromUtf8(device.username));
    item->setText(DevicesWindow::kOrganization, QString::fromStdString(OrganizationPathOf(paths, device.orgId)));
    item->setData(DevicesWindow::kName, DevicesWindow::kDeviceIdRole, device.id);
}

QTreeWidgetItem* DeviceItem(const DeviceRecord& device, const std::map<std::int32_t, std::string>& paths) {
    auto* item = new QTreeWidgetItem;
    ShowDevice(item, device, paths);
    return item;
}

// The organization items of the catalogue's tree below parent, depth first, by id.
void AddOrganizationItems(const DeviceCatalogue& catalogue, QTreeWidgetItem* root,
                          std::map<std::int32_t, QTreeWidgetItem*>& items) {
    std::vector<std::pair<std::int32_t, QTreeWidgetItem*>> pending{{0, root}};
    items[0] = root;
    while (!pending.empty()) {
        auto [id, item] = pending.back();
        pending.pop_back();
        const OrgEntry* entry = catalogue.FindOrganization(id);
        for (std::int32_t childId = 0; entry != nullptr && childId < static_cast<std::int32_t>(entry->childIds.size());
             ++childId) {
            std::int32_t child = entry->childIds[static_cast<std::size_t>(childId)];
            const OrgEntry* childEntry = catalogue.FindOrganization(child);
            if (childEntry == nullptr || items.count(child) > 0) {
                continue;
            }
            auto* childItem = new QTreeWidgetItem(item, QStringList{QString::fromUtf8(childEntry->name)});
            childItem->setData(0, kOrgIdRole, child);
            items[child] = childItem;
            pending.emplace_back(child, childItem);
        }
    }
}

QAction* MakeAction(QWidget* owner, const QString& text, const QKeySequence& shortcut, const char* name) {
    auto* action = new QAction(text, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    owner->addAction(action);
    return action;
}

QPushButton* ButtonFor(QAction* action, const char* name, QWidget* parent) {
    auto* button = new QPushButton(action->text(), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, [button, action] { button->setEnabled(action->isEnabled()); });
    return button;
}

}  // namespace

DevicesWindow::DevicesWindow(ProgramContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    setObjectName(QStringLiteral("devicesWindow"));
    setWindowTitle(QStringLiteral("Devices"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("deviceTree"));
    tree_->setColumnCount(kColumnCount);
    tree_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("IP Address"), QStringLiteral("Port"),
                            QStringLiteral("Channels"), QStringLiteral("User Name"), QStringLiteral("Organization"),
                            QStringLiteral("Answering"), QStringLiteral("Check")});
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setUniformRowHeights(true);
    tree_->header()->setSectionResizeMode(QHeaderView::Interactive);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &DevicesWindow::UpdateActions);
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item->data(kName, kDeviceIdRole).isValid()) {
            Edit();
        }
    });

    editAction_ = MakeAction(this, QStringLiteral("&Edit\u2026"), QKeySequence(Qt::Key_F2), "editAction");
    removeAction_ = MakeAction(this, QStringLiteral("&Remove"), QKeySequence::Delete, "removeAction");
    moveAction_ = MakeAction(this, QStringLiteral("&Move\u2026"), QKeySequence(Qt::CTRL | Qt::Key_M), "moveAction");
    checkAction_ = MakeAction(this, QStringLiteral("&Check"), QKeySequence(Qt::CTRL | Qt::Key_K), "checkAction");
    webAction_ = MakeAction(this, QStringLiteral("Open &web page"), QKeySequence(), "webAction");
    connect(editAction_, &QAction::triggered, this, &DevicesWindow::Edit);
    connect(removeAction_, &QAction::triggered, this, &DevicesWindow::Remove);
    connect(moveAction_, &QAction::triggered, this, &DevicesWindow::Move);
    connect(checkAction_, &QAction::triggered, this, &DevicesWindow::Check);
    connect(webAction_, &QAction::triggered, this, &DevicesWindow::OpenWebPage);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonFor(editAction_, "editButton", this));
    buttons->addWidget(ButtonFor(removeAction_, "removeButton", this));
    buttons->addWidget(ButtonFor(moveAction_, "moveButton", this));
    buttons->addWidget(ButtonFor(checkAction_, "checkButton", this));
    buttons->addWidget(ButtonFor(webAction_, "webButton", this));
    buttons->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    resize(900, 520);
    Fill();
}

DevicesWindow::~DevicesWindow() {
    StopCheck();
}

void DevicesWindow::Fill() {
    std::vector<std::uint32_t> selected = SelectedDevices();
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    const DeviceCatalogue* catalogue = context_.Catalogue();
    auto* root = new QTreeWidgetItem(QStringList{QStringLiteral("Organization")});
    root->setData(0, kOrgIdRole, 0);
    auto* orphans = new QTreeWidgetItem(QStringList{QStringLiteral("Without organization")});
    std::map<std::int32_t, QTreeWidgetItem*>& orgItems = orgItems_;
    orgItems.clear();
    if (catalogue != nullptr) {
        AddOrganizationItems(*catalogue, root, orgItems);
        const std::map<std::int32_t, std::string> paths = OrganizationPaths(*catalogue);
        for (const auto& [orgId, list] : catalogue->DevicesByOrganization()) {
            auto found = orgItems.find(orgId);
            QTreeWidgetItem* parent = found != orgItems.end() ? found->second : orphans;
            QList<QTreeWidgetItem*> devices;
            for (std::int32_t id : list.deviceIds) {
                if (const DeviceRecord* device = catalogue->FindDevice(id)) {
                    devices.append(DeviceItem(*device, paths));
                }
            }
            parent->addChildren(devices);
        }
    }
    tree_->addTopLevelItem(root);
    if (orphans->childCount() > 0) {
        tree_->addTopLevelItem(orphans);
        orphans->setExpanded(true);
    } else {
        delete orphans;
    }
    root->setExpanded(true);
    for (std::uint32_t id : selected) {
        if (QTreeWidgetItem* item = ItemOf(id)) {
            item->setSelected(true);
        }
    }
    UpdateAnswerMarks();
    tree_->setUpdatesEnabled(true);
    UpdateActions();
}

bool DevicesWindow::RefreshItems(const std::vector<std::uint32_t>& deviceIds) {
    const DeviceCatalogue* catalogue = context_.Catalogue();
    if (catalogue == nullptr) {
        return false;
    }
    std::map<std::uint32_t, QTreeWidgetItem*> items;
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        QVariant id = (*it)->data(kName, kDeviceIdRole);
        if (id.isValid()) {
            items.emplace(id.toUInt(), *it);
        }
    }
    const std::map<std::int32_t, std::string> paths = OrganizationPaths(*catalogue);
    // the group of devices without organization goes once it is empty; organizations stay
    auto leave = [](QTreeWidgetItem* item) {
        QTreeWidgetItem* group = item->parent();
        group->removeChild(item);
        if (group->childCount() == 0 && !group->data(0, kOrgIdRole).isValid()) {
            delete group;
        }
    };
    for (std::uint32_t id : deviceIds) {
        auto item = items.find(id);
        const DeviceRecord* device = catalogue->FindDevice(static_cast<std::int32_t>(id));
        if (device == nullptr) {
            if (item != items.end()) {
                leave(item->second);
                delete item->second;
                items.erase(item);
            }
            continue;
        }
        // a device new to the window, or one whose organization has no item here, needs the whole tree
        auto parent = orgItems_.find(static_cast<std::int32_t>(device->orgId));
        if (item == items.end() || parent == orgItems_.end()) {
            return false;
        }
        if (item->second->parent() != parent->second) {
            leave(item->second);
            parent->second->addChild(item->second);
        }
        ShowDevice(item->second, *device, paths);
        MarkAnswer(item->second);
    }
    return true;
}

void DevicesWindow::ShowAnswers(const std::vector<FoundRow>& rows) {
    answering_.clear();
    for (const FoundRow& row : rows) {
        answering_.insert(AnswerKey(AddressText(row.device), row.device.port));
    }
    answersKnown_ = true;
    UpdateAnswerMarks();
}

void DevicesWindow::UpdateAnswerMarks() {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if ((*it)->data(kName, kDeviceIdRole).isValid()) {
            MarkAnswer(*it);
        }
    }
}

void DevicesWindow::MarkAnswer(QTreeWidgetItem* item) {
    QString mark;
    if (answersKnown_) {
        bool answers = answering_.count(AnswerKey(item->text(kAddress).toStdString(), item->text(kPort).toUInt())) > 0;
        mark = answers ? QStringLiteral("answering") : QStringLiteral("not answering");
    }
    if (item->text(kAnswering) != mark) {
        item->setText(kAnswering, mark);
    }
}

std::vector<std::uint32_t> DevicesWindow::SelectedDevices() const {
    std::vector<std::uint32_t> ids;
    for (QTreeWidgetItem* item : tree_->selectedItems()) {
        QVariant id = item->data(kName, kDeviceIdRole);
        if (id.isValid()) {
            ids.push_back(id.toUInt());
        }
    }
    return ids;
}

QTreeWidgetItem* DevicesWindow::ItemOf(std::uint32_t deviceId) const {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        QVariant id = (*it)->data(kName, kDeviceIdRole);
        if (id.isValid() && id.toUInt() == deviceId) {
            return *it;
        }
    }
    return nullptr;
}

void DevicesWindow::UpdateActions() {
    std::size_t selected = SelectedDevices().size();
    editAction_->setEnabled(selected == 1);
    removeAction_->setEnabled(selected > 0);
    moveAction_->setEnabled(selected > 0);
    checkAction_->setEnabled(selected > 0);
    webAction_->setEnabled(selected == 1);
}

void DevicesWindow::Commit(const std::vector<std::uint32_t>& deviceIds,
                           const std::function<std::string(DeviceStore&)>& change, const QString& undone) {
    DeviceStore* store = context_.Store();
    DeviceCatalogue* catalogue = context_.Catalogue();
    if (store == nullptr || catalogue == nullptr) {
        return;
    }
    std::string problem = store->SaveRefusal();
    if (problem.empty()) {
        problem = change(*store);
    }
    if (problem.empty() && SaveChanges(catalogue, *store, problem, nullptr)) {
        // a save that took in another program's changes has reloaded the catalogue: the whole tree is new
        const StoreCondition* condition = store->Condition();
        bool reloaded = condition != nullptr && condition->reloaded;
        if (!reloaded) {
            catalogue->RefreshDevices(std::vector<std::int32_t>(deviceIds.begin(), deviceIds.end()));
        }
        emit DevicesChanged();
        if (!reloaded && RefreshItems(deviceIds)) {
            UpdateActions();
            return;
        }
    } else {
        ShowMessage(this, QStringLiteral("Nothing was %1: %2").arg(undone, QString::fromStdString(problem)),
                    QStringLiteral("ERROR"));
        // what the store holds in memory may be half changed: the file is the truth
        context_.ReleaseCatalogue();
        if (DeviceCatalogue* reloaded = context_.Catalogue()) {
            reloaded->LoadAll();
        }
    }
    Fill();
}

void DevicesWindow::Edit() {
    std::vector<std::uint32_t> ids = SelectedDevices();
    DeviceStore* store = context_.Store();
    DeviceCatalogue* catalogue = context_.Catalogue();
    const DeviceRecord* device =
        ids.size() == 1 && catalogue != nullptr ? catalogue->FindDevice(static_cast<std::int32_t>(ids[0])) : nullptr;
    if (device == nullptr || store == nullptr) {
        return;
    }
    DeviceEdit start{*device, {}};
    store->GetCameraTypes(ids[0], start.cameraTypes.data(), static_cast<std::int32_t>(device->cameras & 0xFFFFu));
    DeviceEditDialog dialog(*store, start, UiTextTableFor(context_.Paths()), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    DeviceEdit edit = dialog.Result();
    std::uint32_t id = ids[0];
    Commit(
        {id}, [id, &edit](DeviceStore& s) { return ChangeDevice(s, id, edit.record, edit.cameraTypes.data()); },
        QStringLiteral("changed"));
    explicit_bzero(edit.record.password, sizeof edit.record.password);
}

void DevicesWindow::Remove() {
    std::vector<std::uint32_t> ids = SelectedDevices();
    if (ids.empty()) {
        return;
    }
    QStringList names;
    for (std::size_t i = 0; i < ids.size() && i < static_cast<std::size_t>(kNamesAsked); ++i) {
        names << ItemOf(ids[i])->text(kName);
    }
    QString list = names.join(QStringLiteral(", "));
    if (ids.size() > static_cast<std::size_t>(kNamesAsked)) {
        list += QStringLiteral(" and %1 more").arg(ids.size() - static_cast<std::size_t>(kNamesAsked));
    }
    QString question = ids.size() == 1 ? QStringLiteral("Remove the device %1?").arg(list)
                                       : QStringLiteral("Remove %1 devices: %2?").arg(ids.size()).arg(list);
    if (!AskYesNo(this, question + QStringLiteral("\nTheir channels and map items are removed with them."),
                  QStringLiteral("Remove Devices"))) {
        return;
    }
    Commit(
        ids,
        [ids](DeviceStore& store) {
            for (std::uint32_t id : ids) {
                if (store.RemoveDevice(id, nullptr) == 0) {
                    return std::string("a device is no longer in the database");
                }
            }
            return std::string();
        },
        QStringLiteral("removed"));
}

void DevicesWindow::Move() {
    std::vector<std::uint32_t> ids = SelectedDevices();
    const DeviceCatalogue* catalogue = context_.Catalogue();
    std::int32_t orgId = 0;
    if (ids.empty() || catalogue == nullptr || !ChooseOrganization(this, *catalogue, orgId)) {
        return;
    }
    Commit(
        ids,
        [ids, orgId](DeviceStore& store) {
            for (std::uint32_t id : ids) {
                if (store.SetDeviceOrganization(id, static_cast<std::uint32_t>(orgId)) == 0) {
                    return std::string("the device or the organization is no longer in the database");
                }
            }
            return std::string();
        },
        QStringLiteral("moved"));
}

void DevicesWindow::Check() {
    StopCheck();
    std::vector<std::uint32_t> ids = SelectedDevices();
    std::vector<TcpTarget> targets;
    for (std::uint32_t id : ids) {
        QTreeWidgetItem* item = ItemOf(id);
        targets.push_back(
            TcpTarget{item->text(kAddress).toStdString(), static_cast<std::uint16_t>(item->text(kPort).toUInt())});
        item->setText(kCheck, QStringLiteral("checking\u2026"));
    }
    cancelCheck_ = false;
    QPointer<DevicesWindow> self(this);
    checker_ = std::thread([this, self, ids, targets] {
        TcpCheckOptions options;
        options.cancel = &cancelCheck_;
        CheckTcp(targets, options, [self, &ids](std::size_t index, const TcpCheckResult& result) {
            if (result.outcome == TcpOutcome::kCancelled) {
                return;
            }
            QString text = QString::fromStdString(DescribeTcpResult(result));
            std::uint32_t id = ids[index];
            // queued to the window's thread; dropped if the window is gone by then
            QMetaObject::invokeMethod(
                self.data(),
                [self, id, text] {
                    if (self) {
                        self->ShowCheckResult(id, text);
                    }
                },
                Qt::QueuedConnection);
        });
    });
}

void DevicesWindow::ShowCheckResult(std::uint32_t deviceId, const QString& text) {
    if (QTreeWidgetItem* item = ItemOf(deviceId)) {
        item->setText(kCheck, text);
    }
}

void DevicesWindow::StopCheck() {
    if (checker_.joinable()) {
        cancelCheck_ = true;
        checker_.join();
    }
}

void DevicesWindow::OpenWebPage() {
    std::vector<std::uint32_t> ids = SelectedDevices();
    if (ids.size() != 1) {
        return;
    }
    QString host = ItemOf(ids[0])->text(kAddress);
    if (!host.isEmpty()) {
        QDesktopServices::openUrl(QUrl(QStringLiteral("http://%1/").arg(host)));
    }
}

void DevicesWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    for (QAction* action : {editAction_, removeAction_, moveAction_, checkAction_, webAction_}) {
        menu.addAction(action);
    }
    menu.exec(event->globalPos());
}

}  // namespace vantrel
