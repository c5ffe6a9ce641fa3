#pragma once

// The Add command: asks once for the shared details in the Device Management dialog, then registers one
// device per selected row of the search list (name + running number, the row's address and port) and
// writes the database once.

#include <QString>
#include <functional>
#include <vector>

class QWidget;

namespace vantrel {

class ProgramContext;

// The texts of the "IP Address" and "Port Number" columns of one selected row, and why the search doubts it
// ("outside the adapter's subnet", ...; empty when it does not).
struct SelectedRow {
    QString address;
    QString port;
    QString warning;
};
using SelectedRowsSource = std::function<std::vector<SelectedRow>()>;

namespace add_messages {
inline constexpr const char* kNoSelection = "Pleae select one device at least.";
inline constexpr const char* kNoSelectionCaption = "Prompt";
// %1 says which file and why ("/x/XML/Data.xml is not a regular file").
inline constexpr const char* kSaveFailed = "The devices were not saved: %1.";
inline constexpr const char* kSaveFailedCaption = "ERROR";
// %1: the store's reason why nothing can be saved to the database.
inline constexpr const char* kAddRefused = "No device can be added: %1.";
// %1: the key file, %2: the database.
inline constexpr const char* kAskNewKey =
    "The key file %1 is missing, so the passwords already in %2 cannot be read. Make a new key for the new "
    "devices? The old passwords stay unreadable unless the key file is restored.";
inline constexpr const char* kAskNewKeyCaption = "Vantrel";
inline constexpr const char* kSummaryCaption = "Vantrel";
inline constexpr const char* kAllRegistered = "The selected devices are registered already.";
// %1: the rows with their warnings, one a line.
inline constexpr const char* kAskWarned = "These devices answered with a warning:\n%1\nRegister them too?";
// %1: "user name", "password" or "user name and password".
inline constexpr const char* kAskEmpty = "The %1 is empty. Register the devices without one?";
}  // namespace add_messages

// Value of the port text's leading decimal digits; 0 when it starts with none, 65535 at most.
unsigned ParsePortText(const QString& text);

// Runs the flow on the UI thread. selectedRows is asked once (none: the prompt, nothing else). A database the
// store cannot save to is told and nothing is asked. Rows whose address and port are registered already are left
// out before the dialog (all of them: a message, no dialog); rows with a warning are named with a question (No
// leaves them out). The dialog starts with the organization and user name used last for this data folder; an
// empty user name or password is asked about once. Cancel adds and writes nothing; so does No when a new password
// key would have to be made while enciphered passwords lack theirs. Refused rows still use up their running
// number. The database is saved once, then a summary gives the counts, with the skipped rows and why in its
// details; a failed save is told, naming the file and why.
void RunAddDeviceFlow(QWidget* parent, ProgramContext& context, const SelectedRowsSource& selectedRows);

}  // namespace vantrel
