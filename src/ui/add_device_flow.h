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

// The texts of the "IP Address" and "Port Number" columns of one selected row.
struct SelectedRow {
    QString address;
    QString port;
};
using SelectedRowsSource = std::function<std::vector<SelectedRow>()>;

namespace add_messages {
inline constexpr const char* kNoSelection = "Pleae select one device at least.";
inline constexpr const char* kNoSelectionCaption = "Prompt";
// %1 is the database file.
inline constexpr const char* kSaveFailed = "Cannot write %1! The devices were not saved.";
inline constexpr const char* kSaveFailedCaption = "ERROR";
}  // namespace add_messages

// Value of the port text's leading decimal digits; 0 when it starts with none, 65535 at most.
unsigned ParsePortText(const QString& text);

// Runs the flow on the UI thread. selectedRows is asked before the dialog (none: the prompt, nothing else) and
// again after OK, in row order. Cancel adds and writes nothing. Refused rows still use up their running number.
// The database is saved once after the last row; a failed save is told, naming the file.
void RunAddDeviceFlow(QWidget* parent, ProgramContext& context, const SelectedRowsSource& selectedRows);

}  // namespace vantrel
