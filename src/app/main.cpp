// Vantrel: runs the search window modally and ends when it closes.
#include <QApplication>

#include "ui/messages.h"
#include "ui/search_dialog.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    vantrel::InstallCatalogueMessages();
    {
        vantrel::SearchDialog window;
        window.exec();
    }
    return 0;
}
