#pragma once

#include <QDialog>
#include <QPushButton>
#include <QRect>

namespace vantrel {

// The OK and Cancel buttons of a dialog template, created in that order (the order the text lookup visits the
// children): OK is the default button and accepts, Cancel rejects.
struct OkCancelButtons {
    QPushButton* ok;
    QPushButton* cancel;
};

inline OkCancelButtons AddOkCancelButtons(QDialog* dialog, const QRect& okGeometry, const QRect& cancelGeometry) {
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setGeometry(okGeometry);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(cancelGeometry);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return {ok, cancel};
}

}  // namespace vantrel
