#include "resources.h"

#include <QGlyphRun>
#include <QPalette>
#include <QTextLayout>
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

QString TextOrFallback(const QString& text, const QString& fallback, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    // the runs come from the fonts the text was shaped with, fallbacks included; glyph 0 is "missing"
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 glyph : run.glyphIndexes()) {
            if (glyph == 0) {
                return fallback;
            }
        }
    }
    return text;
}

QString AboutMenuItemText(const QFont& font) {
    return TextOrFallback(AboutMenuText(), QStringLiteral("About Vantrel(&A)..."), font);
}

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
