#include "ui/resources.h"

#include <QPalette>
#include <QWidget>

static void InitResourceFile() {
    Q_INIT_RESOURCE(vantrel);
}

namespace vantrel {
namespace {

// The resources live in a static library, so nothing registers them before the first use.
void EnsureResources() {
    static const bool initialised = (InitResourceFile(), true);
    (void)initialised;
}

}  // namespace

QIcon ProgramIcon() {
    EnsureResources();
    return QIcon(QStringLiteral(":/icons/128.svg"));
}

QIcon OrganizationIcon() {
    EnsureResources();
    return QIcon(QStringLiteral(":/icons/131.svg"));
}

QIcon RegisteredIcon() {
    EnsureResources();
    return QIcon(QStringLiteral(":/icons/registered.svg"));
}

QIcon WarningIcon() {
    EnsureResources();
    return QIcon(QStringLiteral(":/icons/warning.svg"));
}

void UseWindowBackground(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, WindowBackground());
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace vantrel
