#include "about_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "paths/program_paths.h"
#include "resources.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0"
#endif

namespace vantrel {

AboutDialog::AboutDialog(const ProgramPaths& paths, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Vantrel"));
    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Vantrel Version %1").arg(QStringLiteral(VANTREL_VERSION)), this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setTextFormat(Qt::PlainText);
    auto* folder = new QLabel(QStringLiteral("Data folder: %1").arg(QFile::decodeName(paths.dataFolder.c_str())), this);
    folder->setObjectName(QStringLiteral("aboutDataFolder"));
    folder->setTextFormat(Qt::PlainText);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->addWidget(text);
    texts->addWidget(folder);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace vantrel
