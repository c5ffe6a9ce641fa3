// Shows the search window, the Device Management dialog and the camera type dialog and saves screenshots
// of them into the folder given as the first argument. For docs/take-screenshots.sh, which runs it on
// Xvfb inside a network namespace with simulated devices; never run it on a real network.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "camera_type_dialog.h"
#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "store/device_store.h"
#include "ui/device_management_dialog.h"
#include "ui/search_dialog.h"

namespace {

void Wait(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool Save(QWidget* window, const QString& path) {
    Wait(400);  // let the window manager-less server map and paint it
    QRect area = window->frameGeometry();
    QPixmap shot = window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantrel_screenshots FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir program;
    QDir(program.path()).mkdir(QStringLiteral("XML"));
    vantrel::ProgramContext context(vantrel::PathsBeside(program.path().toStdString()));
    vantrel::DeviceStore* store = context.Store();
    std::uint32_t headOffice = store->AddOrganization(0, "Head Office");
    store->AddOrganization(headOffice, "Reception");
    std::uint32_t warehouse = store->AddOrganization(headOffice, "Warehouse");
    store->AddOrganization(warehouse, "Loading Bay");
    std::uint32_t branch = store->AddOrganization(0, "Riverside Branch");
    store->AddOrganization(branch, "Car Park");
    store->AddOrganization(0, "Depot");
    vantrel::DeviceRecord known{};  // one of the simulated devices, registered before
    std::snprintf(known.name, sizeof known.name, "Entrance");
    std::snprintf(known.host, sizeof known.host, "192.168.1.103");
    std::snprintf(known.username, sizeof known.username, "admin");
    known.port = 8000;
    known.cameras = 4;
    known.orgId = headOffice;
    store->AddDevices(&known, sizeof known);
    store->Save();
    context.ReleaseStore();

    bool ok = true;
    vantrel::SearchDialog window(context);
    window.move(40, 40);
    window.show();
    QElapsedTimer waited;
    waited.start();
    // the window's parts found by name, as the tests find them
    auto* list = window.findChild<QTableView*>(QStringLiteral("deviceList"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    if (list == nullptr || status == nullptr) {
        std::fprintf(stderr, "the search window has no deviceList or statusLine\n");
        return 1;
    }
    // every device listed and the search's round over
    while ((list->model()->rowCount() < 13 || status->text().startsWith(QStringLiteral("Searching"))) &&
           waited.elapsed() < 8000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    for (int row : {1, 2, 4}) {
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    ok = Save(&window, folder + QStringLiteral("/search-window.png")) && ok;

    vantrel::DeviceManagementDialog devices(context, &window);
    devices.move(80, 80);
    devices.show();
    if (auto* tree = devices.findChild<QTreeWidget*>(QStringLiteral("orgTree"))) {
        tree->expandAll();
        QList<QTreeWidgetItem*> reception =
            tree->findItems(QStringLiteral("Reception"), Qt::MatchExactly | Qt::MatchRecursive);
        if (!reception.isEmpty()) {
            tree->setCurrentItem(reception.first());
        }
    }
    devices.findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Lobby"));
    devices.findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
    devices.findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("secret"));
    ok = Save(&devices, folder + QStringLiteral("/device-management.png")) && ok;

    vantrel::CameraTypeDialog cameras(vantrel::UiTextTable{}, &devices);
    cameras.channelCount = 6;
    cameras.cameraTypes[2] = vantrel::kSpeedDome;
    cameras.cameraTypes[5] = vantrel::kSpeedDome;
    cameras.move(120, 120);
    cameras.show();
    ok = Save(&cameras, folder + QStringLiteral("/camera-type.png")) && ok;
    return ok ? 0 : 1;
}
