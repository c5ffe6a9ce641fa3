#pragma once

// Resource texts, icons and colours shared by the windows.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QWidget;

namespace vantrel {

// String 101: the about item of the search window's menu. Its first word is Chinese ("about").
inline QString AboutMenuText() {
    return QString::fromUtf8("\xE5\x85\xB3\xE4\xBA\x8E Vantrel(&A)...");
}

// The about item as the menu shows it in font: string 101 where the installed fonts draw every character of
// it, else its English form "About Vantrel(&A)...", rather than boxes.
QString AboutMenuItemText(const QFont& font);

// text, or fallback when some character of text has no glyph in font nor in any font Qt falls back to.
QString TextOrFallback(const QString& text, const QString& fallback, const QFont& font);

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
