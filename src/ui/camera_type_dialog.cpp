#include "camera_type_dialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "dialog_buttons.h"
#include "dialog_units.h"
#include "ui/ui_text_table.h"

namespace vantrel {
namespace {

int RowY(int row) {
    return 29 + 13 * row;
}
// the template sets the radio buttons of rows 12 and 13 one unit lower than their labels
int RadioY(int row) {
    return row == 11 ? 173 : row == 12 ? 186 : RowY(row);
}

}  // namespace

CameraTypeDialog::CameraTypeDialog(UiTextTable texts, QWidget* parent) : QDialog(parent), texts_(std::move(texts)) {
    setObjectName(QStringLiteral("cameraTypeDialog"));
    setWindowTitle(QStringLiteral("Select Camera Type"));
    setFont(TemplateFont(font()));
    DialogUnits du(font());

    // children are created in the template's order, which is also the order the text lookup visits them
    const OkCancelButtons buttons = AddOkCancelButtons(this, du.Rect(25, 248, 50, 14), du.Rect(95, 248, 50, 14));
    okButton_ = buttons.ok;
    cancelButton_ = buttons.cancel;

    struct Heading {
        const char* text;
        int x;
        int width;
    };
    // centred over their columns and as wide as the space between them, so that wider fonts (and longer
    // texts from the text table) still fit
    for (const Heading& heading :
         {Heading{"Channel", 12, 36}, Heading{"Normal Camera", 56, 56}, Heading{"Speed Dome", 112, 56}}) {
        auto* label = new QLabel(QString::fromLatin1(heading.text), this);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setGeometry(du.Rect(heading.x, 16, heading.width, 8));
    }

    for (int row = 0; row < kMaxChannels; ++row) {
        auto* label = new QLabel(QString::number(row + 1), this);
        label->setObjectName(QStringLiteral("channelLabel%1").arg(row + 1));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setGeometry(du.Rect(25, RowY(row), 9, 8));
        rowLabels_[row] = label;
    }
    for (int row = 0; row < kMaxChannels; ++row) {
        auto* normal = new QRadioButton(this);
        normal->setObjectName(QStringLiteral("normalCamera%1").arg(row + 1));
        normal->setGeometry(du.Rect(79, RadioY(row), 9, 8).adjusted(0, -2, 4, 2));
        auto* dome = new QRadioButton(this);
        dome->setObjectName(QStringLiteral("speedDome%1").arg(row + 1));
        dome->setGeometry(du.Rect(135, RadioY(row), 9, 8).adjusted(0, -2, 4, 2));
        // each row is a group of its own: its two buttons exclude each other, rows are independent
        auto* pair = new QButtonGroup(this);
        pair->addButton(normal, kNormalCamera);
        pair->addButton(dome, kSpeedDome);
        normalButtons_[row] = normal;
        domeButtons_[row] = dome;
    }

    groupBox_ = new QGroupBox(this);
    groupBox_->setObjectName(QStringLiteral("groupBox"));
    groupBox_->setGeometry(du.Rect(10, 6, 154, 232));
    groupBox_->lower();

    setFixedSize(du.X(174), du.Y(271));
}

int CameraTypeDialog::ShownRows() const {
    return std::clamp(channelCount, 1, kMaxChannels);
}

void CameraTypeDialog::setVisible(bool visible) {
    if (visible && !initialised_) {
        initialised_ = true;
        InitDialog();
    }
    QDialog::setVisible(visible);
}

void CameraTypeDialog::InitDialog() {
    texts_.ApplyTo(this);

    int shown = ShownRows();
    for (int row = 0; row < shown; ++row) {
        (cameraTypes[row] == kNormalCamera ? normalButtons_[row] : domeButtons_[row])->setChecked(true);
    }
    if (shown == kMaxChannels) {
        return;
    }
    for (int row = shown; row < kMaxChannels; ++row) {
        rowLabels_[row]->hide();
        normalButtons_[row]->hide();
        domeButtons_[row]->hide();
    }
    int delta = (kMaxChannels - shown) * kHiddenRowShrink;
    groupBox_->resize(groupBox_->width(), groupBox_->height() - delta);
    okButton_->move(okButton_->x(), okButton_->y() - delta);
    cancelButton_->move(cancelButton_->x(), cancelButton_->y() - delta);
    setFixedSize(width(), height() - delta);
}

void CameraTypeDialog::accept() {
    int shown = ShownRows();
    for (int row = 0; row < shown; ++row) {
        cameraTypes[row] = normalButtons_[row]->isChecked() ? kNormalCamera : kSpeedDome;
    }
    QDialog::accept();
}

}  // namespace vantrel
