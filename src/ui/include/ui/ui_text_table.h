#pragma once

// Replaces the texts a dialog shows by entries of the text table, a profile file whose section "String"
// maps a control's own English text (the key, matched without regard to letter case) to the text to show.

#include <QString>
#include <string>

class QWidget;

namespace vantrel {

inline constexpr const char* kUiTextFileName = "UiText.ini";

struct ProgramPaths;

// Where the text table is looked for: the data folder when it holds kUiTextFileName (an installed program's
// own folder is not the user's to change), else the program's folder.
std::string UiTextFolderFor(const ProgramPaths& paths);

// A small value: the file's place. The dialogs that pass their texts through it are given one, made from the
// program's paths by UiTextTableFor.
class UiTextTable {
public:
    // No table: every text stays as it is.
    UiTextTable() = default;
    // The folder is used as a prefix as it is: a non-empty folder must end with '/'.
    UiTextTable(std::string folder, std::string fileName);

    // folder followed directly by the file name; empty while no file name is configured.
    std::string Path() const;

    // The table's value for text (lines longer than 199 bytes are cut there); the text itself when there is no file (or
    // no regular file of at most 1 MiB), no section, no such key or an empty value, and for the empty text. The file is
    // read anew on every call.
    std::string Translate(const std::string& text) const;
    QString Translate(const QString& text) const;

    // Translates the dialog's title (when not empty) and the texts of its direct child labels, buttons
    // and group boxes; edit fields hold data and are left alone, grandchildren are not visited. The labels are
    // made plain text: a table's value is shown as it is written, never as markup.
    void ApplyTo(QWidget* dialog) const;

private:
    std::string folder_;
    std::string fileName_;
};

// The program's table: kUiTextFileName in UiTextFolderFor(paths).
UiTextTable UiTextTableFor(const ProgramPaths& paths);

}  // namespace vantrel
