#pragma once

// New organization, Rename and Remove on the organization tree: a context menu and the keys Insert, F2 and
// Delete while the tree has the focus. Each change goes through the store's organization operations and is
// saved at once; when the file cannot be written the operator is told and the program goes back to what the
// file holds.

#include <QObject>
#include <QString>
#include <cstdint>

class QAction;

namespace vantrel {

class DeviceCatalogue;
class DeviceStore;
class OrgTreeCtrl;
class ProgramContext;

class OrgTreeEditor : public QObject {
    Q_OBJECT

public:
    // Adds the actions to tree, which owns this editor.
    OrgTreeEditor(OrgTreeCtrl* tree, ProgramContext& context);

    // Fills the tree from the catalogue: the root, shown as "Organization", expanded; the organizations that
    // were expanded stay so; selectId selected, or the root when it is not in the tree.
    void Refresh(std::int32_t selectId);

    QAction* NewAction() const { return newAction_; }
    QAction* RenameAction() const { return renameAction_; }
    QAction* RemoveAction() const { return removeAction_; }

public slots:
    // Asks for a name and adds the organization under the selected one (the root when none is).
    void NewOrganization();
    void RenameOrganization();
    // Asks first, saying how many devices the organization and those below it hold.
    void RemoveOrganization();

private:
    // The name the operator gave, trimmed; asks again after each refusal. Empty when cancelled.
    QString AskName(const QString& title, const QString& initial, std::uint32_t parentId, std::uint32_t renamedId);
    // Saves the store; on failure tells the operator that the change (undone: "added", ...) was not made and
    // loads the file again. Either way the catalogue's tree follows.
    bool Save(const char* undone);
    void UpdateActions();

    OrgTreeCtrl* tree_;
    ProgramContext& context_;
    QAction* newAction_;
    QAction* renameAction_;
    QAction* removeAction_;
};

// The problem with name (trimmed) as the name of an organization under parentId; renamedId is the organization
// being renamed (0 for a new one), which may keep its own name. Empty when the name may be stored.
QString OrganizationNameProblem(const QString& name, std::uint32_t parentId, std::uint32_t renamedId,
                                DeviceStore& store, const DeviceCatalogue& catalogue);

// Devices of the organization and of every organization below it.
int CountDevicesBelow(const DeviceCatalogue& catalogue, std::int32_t orgId);

namespace org_messages {
inline constexpr const char* kCaption = "ERROR";
inline constexpr const char* kRemoveCaption = "Remove Organization";
inline constexpr const char* kNewTitle = "New Organization";
inline constexpr const char* kRenameTitle = "Rename Organization";
inline constexpr const char* kSaveFailed = "Cannot write %1! The organization was not %2.";
inline constexpr const char* kStoreRefused = "The organization could not be %1 in the database!";
}  // namespace org_messages

}  // namespace vantrel
