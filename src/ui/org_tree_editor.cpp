#include "org_tree_editor.h"

#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QSet>
#include <QStyle>
#include <QTreeWidgetItemIterator>
#include <vector>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "org_tree.h"
#include "records/records.h"
#include "store/device_store.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

constexpr int kMaxNameBytes = static_cast<int>(kTextFieldSize) - 1;
const char* const kRootText = "Organization";

QString DisplayName(const DeviceCatalogue& catalogue, std::int32_t orgId) {
    const OrgEntry* entry = catalogue.FindOrganization(orgId);
    if (orgId == 0 || entry == nullptr) {
        return QString::fromLatin1(kRootText);
    }
    return QString::fromUtf8(entry->name);
}

// Calls visit with the entry of orgId and of every organization below it, each once, parents first.
template <typename Visit>
void VisitOrganizations(const DeviceCatalogue& catalogue, std::int32_t orgId, Visit visit) {
    QSet<std::int32_t> seen;
    std::vector<std::int32_t> pending{orgId};
    while (!pending.empty()) {
        const std::int32_t id = pending.back();
        pending.pop_back();
        const OrgEntry* entry = catalogue.FindOrganization(id);
        if (entry == nullptr || seen.contains(id)) {
            continue;
        }
        seen.insert(id);
        visit(*entry);
        pending.insert(pending.end(), entry->childIds.begin(), entry->childIds.end());
    }
}

QTreeWidgetItem* FindItem(OrgTreeCtrl* tree, std::int32_t orgId) {
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if (OrgTreeCtrl::OrgIdOf(*it) == orgId) {
            return *it;
        }
    }
    return nullptr;
}

QAction* MakeAction(OrgTreeCtrl* tree, const char* text, QKeySequence key) {
    auto* action = new QAction(QString::fromLatin1(text), tree);
    action->setShortcut(key);
    // only while the tree has the focus: Delete and Insert keep their meaning in the text fields
    action->setShortcutContext(Qt::WidgetShortcut);
    tree->addAction(action);
    return action;
}

// Wide enough for the title beside the title bar's icon and buttons (which the window manager draws: about
// eight character widths of room are kept for them) and for a name of the longest a record holds (63 bytes).
void SizeNamePrompt(QInputDialog& dialog) {
    const QFontMetrics metrics(dialog.font());
    const int titleBar = metrics.horizontalAdvance(dialog.windowTitle()) + 8 * metrics.averageCharWidth() +
                         3 * dialog.style()->pixelMetric(QStyle::PM_TitleBarButtonSize);
    dialog.setMinimumWidth(titleBar);
    if (auto* name = dialog.findChild<QLineEdit*>()) {
        // a lower-case letter of middle width stands for the average character of a name
        const int longestName =
            metrics.horizontalAdvance(QString(static_cast<int>(kTextFieldSize - 1), QLatin1Char('n')));
        name->setMinimumWidth(longestName + 2 * name->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8);
    }
}

}  // namespace

QString OrganizationNameProblem(const QString& name, std::uint32_t parentId, std::uint32_t renamedId,
                                DeviceStore& store, const DeviceCatalogue& catalogue) {
    if (name.isEmpty()) {
        return QStringLiteral("The organization name is empty!");
    }
    // the database's XML is written without escapes, so these would break the file or change on reading
    if (name.contains(QLatin1Char('"'))) {
        return QStringLiteral("The organization name must not contain a double quote (\")!");
    }
    for (const char* markup : {"<", "&"}) {
        if (name.contains(QLatin1String(markup))) {
            return QStringLiteral("The organization name must not contain \"%1\"!").arg(QLatin1String(markup));
        }
    }
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control) {
            return QStringLiteral("The organization name must not contain line breaks or other control characters!");
        }
    }
    const qsizetype bytes = name.toUtf8().size();
    if (bytes > kMaxNameBytes) {
        return QStringLiteral("The organization name is too long! It must fit in %1 bytes (UTF-8), it has %2.")
            .arg(kMaxNameBytes)
            .arg(bytes);
    }
    const std::uint32_t sibling = store.FindOrganizationByName(parentId, name.toUtf8().constData());
    if (sibling != 0 && sibling != renamedId) {
        return QStringLiteral("An organization named \"%1\" already exists in \"%2\"!")
            .arg(name, DisplayName(catalogue, static_cast<std::int32_t>(parentId)));
    }
    return QString();
}

int CountDevicesBelow(const DeviceCatalogue& catalogue, std::int32_t orgId) {
    int devices = 0;
    VisitOrganizations(catalogue, orgId, [&](const OrgEntry& entry) {
        auto list = catalogue.DevicesByOrganization().find(entry.id);
        if (list != catalogue.DevicesByOrganization().end()) {
            devices += static_cast<int>(list->second.deviceIds.size());
        }
    });
    return devices;
}

OrgTreeEditor::OrgTreeEditor(OrgTreeCtrl* tree, ProgramContext& context)
    : QObject(tree),
      tree_(tree),
      context_(context),
      newAction_(MakeAction(tree, "&New Organization...", QKeySequence(Qt::Key_Insert))),
      renameAction_(MakeAction(tree, "&Rename...", QKeySequence(Qt::Key_F2))),
      removeAction_(MakeAction(tree, "Re&move...", QKeySequence::Delete)) {
    newAction_->setObjectName(QStringLiteral("newOrganization"));
    renameAction_->setObjectName(QStringLiteral("renameOrganization"));
    removeAction_->setObjectName(QStringLiteral("removeOrganization"));
    tree_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(newAction_, &QAction::triggered, this, &OrgTreeEditor::NewOrganization);
    connect(renameAction_, &QAction::triggered, this, &OrgTreeEditor::RenameOrganization);
    connect(removeAction_, &QAction::triggered, this, &OrgTreeEditor::RemoveOrganization);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &OrgTreeEditor::UpdateActions);
    UpdateActions();
}

void OrgTreeEditor::Refresh(std::int32_t selectId) {
    QSet<std::int32_t> expanded;
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if ((*it)->isExpanded()) {
            expanded.insert(OrgTreeCtrl::OrgIdOf(*it));
        }
    }
    tree_->clear();
    FillOrgTree(tree_, nullptr, 0, context_.Catalogue());
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    if (root == nullptr) {
        UpdateActions();
        return;
    }
    root->setText(0, QString::fromLatin1(kRootText));
    root->setExpanded(true);
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        if (expanded.contains(OrgTreeCtrl::OrgIdOf(*it))) {
            (*it)->setExpanded(true);
        }
    }
    QTreeWidgetItem* selected = FindItem(tree_, selectId);
    if (selected == nullptr) {
        selected = root;
    }
    for (QTreeWidgetItem* above = selected->parent(); above != nullptr; above = above->parent()) {
        above->setExpanded(true);
    }
    // through nullptr, so that the selection handlers run even when the same item is chosen again
    tree_->setCurrentItem(nullptr);
    tree_->setCurrentItem(selected);
    tree_->scrollToItem(selected);
}

void OrgTreeEditor::UpdateActions() {
    const bool organization = OrgTreeCtrl::OrgIdOf(tree_->currentItem()) != 0;
    newAction_->setEnabled(context_.Catalogue() != nullptr);
    renameAction_->setEnabled(organization);
    removeAction_->setEnabled(organization);
}

QString OrgTreeEditor::AskName(const QString& title, const QString& initial, std::uint32_t parentId,
                               std::uint32_t renamedId) {
    QString text = initial;
    for (;;) {
        QInputDialog dialog(tree_->window());
        dialog.setObjectName(QStringLiteral("organizationNameDialog"));
        dialog.setWindowTitle(title);
        dialog.setLabelText(QStringLiteral("&Name:"));
        dialog.setTextValue(text);
        SizeNamePrompt(dialog);
        if (dialog.exec() != QDialog::Accepted) {
            return QString();
        }
        text = dialog.textValue();
        const QString name = text.trimmed();
        DeviceStore* store = context_.Store();
        DeviceCatalogue* catalogue = context_.Catalogue();
        if (store == nullptr || catalogue == nullptr) {
            ShowMessage(tree_->window(), QStringLiteral("XML failed!"), QString::fromLatin1(org_messages::kCaption));
            return QString();
        }
        const QString problem = OrganizationNameProblem(name, parentId, renamedId, *store, *catalogue);
        if (problem.isEmpty()) {
            return name;
        }
        ShowMessage(tree_->window(), problem, QString::fromLatin1(org_messages::kCaption));
    }
}

bool OrgTreeEditor::Save(const char* undone) {
    DeviceStore* store = context_.Store();
    if (store != nullptr && store->Save() == 1) {
        if (DeviceCatalogue* catalogue = context_.Catalogue()) {
            catalogue->ReloadOrganizations();
        }
        return true;
    }
    ShowMessage(tree_->window(),
                QString::fromLatin1(org_messages::kSaveFailed)
                    .arg(QString::fromStdString(context_.Paths().DatabasePath()), QLatin1String(undone)),
                QString::fromLatin1(org_messages::kCaption));
    // the change is in memory only: start again from the file, as the operator was told
    context_.ReleaseCatalogue();
    if (DeviceCatalogue* catalogue = context_.Catalogue()) {
        catalogue->LoadAll();
    }
    return false;
}

void OrgTreeEditor::NewOrganization() {
    const std::int32_t parentId = OrgTreeCtrl::OrgIdOf(tree_->currentItem());
    const QString name =
        AskName(QString::fromLatin1(org_messages::kNewTitle), QString(), static_cast<std::uint32_t>(parentId), 0);
    if (name.isEmpty()) {
        return;
    }
    const std::uint32_t id =
        context_.Store()->AddOrganization(static_cast<std::uint32_t>(parentId), name.toUtf8().constData());
    if (id == 0) {
        ShowMessage(tree_->window(), QString::fromLatin1(org_messages::kStoreRefused).arg(QStringLiteral("added")),
                    QString::fromLatin1(org_messages::kCaption));
        return;
    }
    Refresh(Save("added") ? static_cast<std::int32_t>(id) : parentId);
}

void OrgTreeEditor::RenameOrganization() {
    QTreeWidgetItem* item = tree_->currentItem();
    const std::int32_t orgId = OrgTreeCtrl::OrgIdOf(item);
    if (orgId == 0) {
        return;
    }
    const std::int32_t parentId = OrgTreeCtrl::OrgIdOf(item->parent());
    const QString name = AskName(QString::fromLatin1(org_messages::kRenameTitle), item->text(0),
                                 static_cast<std::uint32_t>(parentId), static_cast<std::uint32_t>(orgId));
    if (name.isEmpty() || name == item->text(0)) {
        return;
    }
    if (context_.Store()->RenameOrganization(static_cast<std::uint32_t>(orgId), name.toUtf8().constData()) == 0) {
        ShowMessage(tree_->window(), QString::fromLatin1(org_messages::kStoreRefused).arg(QStringLiteral("renamed")),
                    QString::fromLatin1(org_messages::kCaption));
        return;
    }
    Save("renamed");
    Refresh(orgId);
}

void OrgTreeEditor::RemoveOrganization() {
    QTreeWidgetItem* item = tree_->currentItem();
    const std::int32_t orgId = OrgTreeCtrl::OrgIdOf(item);
    DeviceCatalogue* catalogue = context_.Catalogue();
    if (orgId == 0 || catalogue == nullptr) {
        return;
    }
    const std::int32_t parentId = OrgTreeCtrl::OrgIdOf(item->parent());
    int below = -1;
    VisitOrganizations(*catalogue, orgId, [&below](const OrgEntry&) { ++below; });
    const int devices = CountDevicesBelow(*catalogue, orgId);
    const QString name = item->text(0);
    QString question;
    if (below <= 0) {
        question = QStringLiteral("Remove the organization \"%1\"?").arg(name);
    } else if (below == 1) {
        question = QStringLiteral("Remove the organization \"%1\" and the organization below it?").arg(name);
    } else {
        question =
            QStringLiteral("Remove the organization \"%1\" and the %2 organizations below it?").arg(name).arg(below);
    }
    if (devices > 0) {
        question += devices == 1 ? QStringLiteral("\n\n1 device belongs to it")
                                 : QStringLiteral("\n\n%1 devices belong to it").arg(devices);
        question += below <= 0 ? QStringLiteral(". ") : QStringLiteral(" or to the organizations below it. ");
        question += devices == 1 ? QStringLiteral("It stays in the database without an organization.")
                                 : QStringLiteral("They stay in the database without an organization.");
    }
    if (!AskYesNo(tree_->window(), question, QString::fromLatin1(org_messages::kRemoveCaption))) {
        return;
    }
    if (context_.Store()->RemoveOrganization(static_cast<std::uint32_t>(orgId)) == 0) {
        ShowMessage(tree_->window(), QString::fromLatin1(org_messages::kStoreRefused).arg(QStringLiteral("removed")),
                    QString::fromLatin1(org_messages::kCaption));
        return;
    }
    Refresh(Save("removed") ? parentId : orgId);
}

}  // namespace vantrel
