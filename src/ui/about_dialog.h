#pragma once

#include <QDialog>

namespace vantrel {

struct ProgramPaths;

// The about box: the program's icon, name and version, the data folder in use, and OK.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(const ProgramPaths& paths, QWidget* parent = nullptr);
};

}  // namespace vantrel
