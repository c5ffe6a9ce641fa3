#pragma once

// Resource texts, icons and colours shared by the windows.

#include <QColor>
#include <QIcon>
#include <QString>

class QWidget;

namespace vantrel {

// String 101: the about item of the search window's menu.
inline QString AboutMenuText() {
    return QString::fromUtf8("\xE5\x85\xB3\xE4\xBA\x8E Vantrel(&A)...");
}

// Icon 128, the program's icon; icon 131, an organization in the tree.
QIcon ProgramIcon();
QIcon OrganizationIcon();
// Marks of the search list: a device already registered; a row that needs the operator's attention.
QIcon RegisteredIcon();
QIcon WarningIcon();

// The background of the search window and the Device Management dialog, RGB(198, 206, 225).
inline QColor WindowBackground() {
    return QColor(198, 206, 225);
}

// Paints widget's background with WindowBackground (its children keep their own colours).
void UseWindowBackground(QWidget* widget);

}  // namespace vantrel
