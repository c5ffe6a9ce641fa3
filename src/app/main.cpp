// Vantrel: runs the search window modally and ends when it closes.
#include <QApplication>

#include "context/program_context.h"
#include "ui/messages.h"
#include "ui/search_dialog.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    vantrel::ProgramContext context(vantrel::PathsBesideProgram());
    vantrel::SetCurrentContext(&context);
    vantrel::InstallCatalogueMessages(context);
    {
        vantrel::SearchDialog window(context);
        window.exec();
    }
    return 0;
}
