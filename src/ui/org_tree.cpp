#include "org_tree.h"

#include <set>
#include <utility>
#include <vector>

#include "catalogue/device_catalogue.h"
#include "resources.h"

namespace vantrel {

OrgTreeCtrl::OrgTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);  // keeps expanding a branch of thousands cheap
}

std::int32_t OrgTreeCtrl::OrgIdOf(const QTreeWidgetItem* item) {
    return item == nullptr ? 0 : item->data(0, kOrgIdRole).toInt();
}

void FillOrgTree(OrgTreeCtrl* tree, QTreeWidgetItem* parent, std::int32_t orgId, const DeviceCatalogue* catalogue) {
    if (tree == nullptr || catalogue == nullptr) {
        return;
    }
    const QIcon icon = OrganizationIcon();
    std::set<std::int32_t> added;
    // explicit stack of (parent item, id), children pushed in reverse so they come out in list order
    std::vector<std::pair<QTreeWidgetItem*, std::int32_t>> pending{{parent, orgId}};
    while (!pending.empty()) {
        auto [parentItem, id] = pending.back();
        pending.pop_back();
        const OrgEntry* entry = catalogue->FindOrganization(id);
        if (entry == nullptr || !added.insert(id).second) {
            continue;
        }
        auto* item = new QTreeWidgetItem(QStringList(QString::fromUtf8(entry->name)));
        item->setIcon(0, icon);
        item->setData(0, kOrgIdRole, id);
        if (parentItem == nullptr) {
            tree->addTopLevelItem(item);
        } else {
            parentItem->addChild(item);
        }
        for (auto child = entry->childIds.rbegin(); child != entry->childIds.rend(); ++child) {
            pending.emplace_back(item, *child);
        }
    }
}

}  // namespace vantrel
