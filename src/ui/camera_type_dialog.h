#pragma once

// "Select Camera Type": one row per channel, each a normal camera or a speed dome. Rows beyond the
// channel count are hidden and the dialog shrinks by 20 pixels per hidden row.

#include <QDialog>
#include <array>
#include <cstdint>

#include "records/records.h"
#include "ui/ui_text_table.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vantrel {

class CameraTypeDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kHiddenRowShrink = 20;  // pixels taken off per hidden row

    // The dialog's texts pass through texts as it opens.
    explicit CameraTypeDialog(UiTextTable texts, QWidget* parent = nullptr);

    // Set before the dialog is shown; a count outside 1 to 16 is taken as the nearest of the two.
    int channelCount = 8;
    // 0 normal camera, anything else speed dome; after OK the shown channels hold 0 or 1, the others are unchanged.
    std::array<std::int32_t, kMaxChannels> cameraTypes{};

    void setVisible(bool visible) override;

public slots:
    void accept() override;

private:
    void InitDialog();
    int ShownRows() const;

    QGroupBox* groupBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::array<QLabel*, kMaxChannels> rowLabels_{};
    std::array<QRadioButton*, kMaxChannels> normalButtons_{};
    std::array<QRadioButton*, kMaxChannels> domeButtons_{};
    bool initialised_ = false;
    UiTextTable texts_;
};

}  // namespace vantrel
