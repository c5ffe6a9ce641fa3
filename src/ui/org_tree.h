#pragma once

// The organization tree of the Device Management dialog, filled from the catalogue.

#include <QTreeWidget>
#include <cstdint>

namespace vantrel {

class DeviceCatalogue;

// Item data role holding an item's organization id.
inline constexpr int kOrgIdRole = Qt::UserRole;

class OrgTreeCtrl : public QTreeWidget {
    Q_OBJECT

public:
    explicit OrgTreeCtrl(QWidget* parent = nullptr);

    // The organization id of an item; 0 for nullptr.
    static std::int32_t OrgIdOf(const QTreeWidgetItem* item);
};

// Adds the organization orgId under parent (the tree's top level when parent is nullptr), then, depth first,
// every organization beneath it in the order of the catalogue's child lists; each item carries the icon and
// its id. An id the catalogue does not hold leaves that branch out; an id met twice is added once.
// Nothing is added without a catalogue.
void FillOrgTree(OrgTreeCtrl* tree, QTreeWidgetItem* parent, std::int32_t orgId, const DeviceCatalogue* catalogue);

}  // namespace vantrel
