#pragma once

// Modal message boxes with a single OK button, the only way the program talks to the operator. Their texts
// are plain text: a file or device name is shown as it is, never as markup.

#include <QString>

class QWidget;

namespace vantrel {

class ProgramContext;

// Caption of the catalogue's messages: the program's name, as an application message box shows it.
inline constexpr const char* kProgramCaption = "Vantrel";

// Shows text under caption with one OK button and returns when the operator closes it. A parent of nullptr
// puts the box over the active window. The box is named "messageBox", a question "questionBox".
void ShowMessage(QWidget* parent, const QString& text, const QString& caption);

// Asks text under caption with Yes and No, No being the default; true when the operator chose Yes.
bool AskYesNo(QWidget* parent, const QString& text, const QString& caption);

// Routes the context's messages for the operator to ShowMessage with kProgramCaption.
void InstallCatalogueMessages(ProgramContext& context);

}  // namespace vantrel
