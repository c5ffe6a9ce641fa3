// The add-device flow end to end: the real Device Management dialog, the catalogue and the store on a
// temporary program folder, and the file it writes.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "camera_type_dialog.h"
#include "org_tree.h"
#include "password/password.h"
#include "store/xml_device_store.h"
#include "ui/add_device_flow.h"
#include "ui/device_management_dialog.h"
#include "ui/single_instance.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::WhenModal;

namespace {

struct Details {
    QString name = QStringLiteral("Cam");
    QString user = QStringLiteral("admin");
    QString password = QStringLiteral("s3cret");
    QString channels = QStringLiteral("4");
    QString organization;            // empty: the root
    std::vector<int> domes;          // channels (from 1) switched to speed dome
    std::function<void()> beforeOk;  // runs while the dialog is open, just before OK
};

// Fills the next Device Management dialog and presses OK, or Cancel when cancel is set.
QPointer<QTimer> AnswerDialog(const Details& details, bool cancel = false) {
    return WhenModal<DeviceManagementDialog>([details, cancel](DeviceManagementDialog* dialog) {
        if (cancel) {
            dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
            return;
        }
        if (!details.organization.isEmpty()) {
            QList<QTreeWidgetItem*> found =
                dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))
                    ->findItems(details.organization, Qt::MatchExactly | Qt::MatchRecursive);
            QVERIFY(!found.isEmpty());
            dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->setCurrentItem(found.first());
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(details.name);
        dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(details.user);
        dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(details.password);
        dialog->findChild<QLineEdit*>(QStringLiteral("totalChannel"))->setText(details.channels);
        if (!details.domes.empty()) {
            std::vector<int> domes = details.domes;
            WhenModal<CameraTypeDialog>([domes](CameraTypeDialog* camera) {
                for (int channel : domes) {
                    camera->findChild<QRadioButton*>(QStringLiteral("speedDome%1").arg(channel))->click();
                }
                camera->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            });
            dialog->findChild<QPushButton*>(QStringLiteral("editCameraType"))->click();
        }
        if (details.beforeOk) {
            details.beforeOk();
        }
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
}

std::vector<SelectedRow> Rows(std::initializer_list<std::pair<const char*, const char*>> rows) {
    std::vector<SelectedRow> selected;
    for (const auto& row : rows) {
        selected.push_back({QString::fromLatin1(row.first), QString::fromLatin1(row.second), {}});
    }
    return selected;
}

// Counts the times Data.xml is put in place in a folder.
class SaveCounter {
public:
    explicit SaveCounter(const QString& folder) {
        fd_ = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(fd_, folder.toLocal8Bit().constData(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~SaveCounter() { close(fd_); }
    int Count() {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            ssize_t length = read(fd_, buffer, sizeof buffer);
            if (length <= 0) {
                return count_;
            }
            for (char* p = buffer; p < buffer + length;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len > 0 && std::strcmp(event->name, "Data.xml") == 0 && (event->mask & IN_MOVED_TO)) {
                    ++count_;
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
    }

private:
    int fd_ = -1;
    int count_ = 0;
};

}  // namespace

class AddDeviceFlowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder;
    std::uint32_t north = 0;

    // The devices as a fresh start of the program would see them.
    const DeviceRecord* Stored(const char* name) {
        folder->Reload();
        std::uint32_t id = folder->Context().Store()->FindDeviceByName(name);
        return id == 0 ? nullptr : folder->Context().Catalogue()->FindDevice(static_cast<std::int32_t>(id));
    }

    // The password as the store deciphers it (the catalogue keeps none).
    QByteArray StoredPassword(std::uint32_t id) {
        DeviceStore* store = folder->Context().Store();
        std::vector<DeviceRecord> records(store->CountDevices());
        store->LoadDevices(records.data(), static_cast<std::uint32_t>(records.size() * sizeof(DeviceRecord)));
        for (const DeviceRecord& record : records) {
            if (record.id == id) {
                return QByteArray(record.password);
            }
        }
        return QByteArray();
    }

    void Run(const std::vector<SelectedRow>& rows, int* asked = nullptr) {
        RunAddDeviceFlow(nullptr, folder->Context(), [rows, asked] {
            if (asked != nullptr) {
                ++*asked;
            }
            return rows;
        });
    }

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        DeviceStore* store = folder->Context().Store();
        north = store->AddOrganization(0, "North");
        store->AddOrganization(north, "Harbour");
        DeviceRecord existing{};
        std::strcpy(existing.name, "Cam2");
        std::strcpy(existing.host, "10.0.0.50");
        existing.port = 8000;
        existing.cameras = 1;
        QVERIFY(store->AddDevices(&existing, sizeof existing) == 1);
        QVERIFY(store->Save() == 1);
        folder->Reload();
    }
    void cleanup() { folder.reset(); }

    void noSelection_promptsAndOpensNothing() {
        MessageLog log;
        QPointer<QTimer> dialogWatch = AnswerDialog(Details{}, true);
        int asked = 0;
        Run({}, &asked);
        delete dialogWatch.data();
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("Pleae select one device at least.")});
        QCOMPARE(log.messages[0].caption, QStringLiteral("Prompt"));
        QCOMPARE(asked, 1);
    }

    void noSelection_realMessageBoxHasPromptCaptionAndOk() {
        QString caption;
        QMessageBox::StandardButtons buttons;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            caption = box->windowTitle();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        Run({});
        QCOMPARE(caption, QStringLiteral("Prompt"));
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void cancel_addsAndWritesNothing() {
        MessageLog log;
        SaveCounter saves(folder->Path() + QStringLiteral("XML"));
        AnswerDialog(Details{}, true);
        Run(Rows({{"10.0.0.1", "8000"}}));
        QVERIFY(log.messages.empty());
        QCOMPARE(saves.Count(), 0);
        QVERIFY(Stored("Cam1") == nullptr);
    }

    void oneRow_addedWithTheSharedDetails() {
        MessageLog log;
        SaveCounter saves(folder->Path() + QStringLiteral("XML"));
        Details details;
        details.name = QStringLiteral("  Cam  ");
        details.organization = QStringLiteral("Harbour");
        details.channels = QStringLiteral("6");
        details.domes = {2, 6};
        AnswerDialog(details);
        Run(Rows({{"192.168.1.100", "5050"}}));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        QCOMPARE(log.messages[0].caption, QStringLiteral("Vantrel"));
        QCOMPARE(saves.Count(), 1);

        const DeviceRecord* device = Stored("Cam1");
        QVERIFY(device != nullptr);
        QCOMPARE(QByteArray(device->host), QByteArray("192.168.1.100"));
        QCOMPARE(device->port, 5050u);
        QCOMPARE(QByteArray(device->username), QByteArray("admin"));
        QCOMPARE(QByteArray(device->password), QByteArray());
        QCOMPARE(StoredPassword(device->id), QByteArray("s3cret"));
        QCOMPARE(device->cameras, 6u);
        QCOMPARE(device->orgId, folder->Context().Store()->FindOrganizationByName(north, "Harbour"));
        QCOMPARE(device->ddnsFlag, 0u);
        QCOMPARE(device->ddnsPort, 0u);
        QCOMPARE(QByteArray(device->ddnsHost), QByteArray());
        std::int32_t types[16] = {};
        QVERIFY(folder->Context().Store()->GetCameraTypes(device->id, types, 6) != 0);
        QCOMPARE((std::vector<std::int32_t>(types, types + 6)), (std::vector<std::int32_t>{0, 1, 0, 0, 0, 1}));
    }

    void threeRows_runningNumbersSkipARefusedName() {
        MessageLog log;
        SaveCounter saves(folder->Path() + QStringLiteral("XML"));
        AnswerDialog(Details{});
        Run(Rows({{"10.0.0.2", "8000"}, {"10.0.0.5", "8000"}, {"10.0.0.7", ""}}));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("2 devices were registered, 1 was skipped.")});
        QCOMPARE(log.messages[0].details, QStringLiteral("Cam2 (10.0.0.5:8000): The name of this device has existed!"));
        QCOMPARE(log.messages[0].caption, QStringLiteral("Vantrel"));
        QCOMPARE(saves.Count(), 1);
        const DeviceRecord* first = Stored("Cam1");
        QVERIFY(first != nullptr);
        QCOMPARE(QByteArray(first->host), QByteArray("10.0.0.2"));
        const DeviceRecord* third = Stored("Cam3");
        QVERIFY(third != nullptr);
        QCOMPARE(QByteArray(third->host), QByteArray("10.0.0.7"));
        QCOMPARE(third->port, 0u);  // the port text was empty
        QCOMPARE(QByteArray(Stored("Cam2")->host), QByteArray("10.0.0.50"));
        QCOMPARE(folder->Context().Store()->CountDevices(), 3u);
    }

    // Another program adds a device while the dialog is open: both it and ours are in the file afterwards,
    // and the catalogue (which the search window marks rows from) knows both under their identifiers there.
    void otherWriterMeanwhile_bothKeptAndTheCatalogueFollowsTheFile() {
        MessageLog log;
        Details details;
        details.name = QStringLiteral("Lobby");
        details.beforeOk = [this] {
            XmlDeviceStore other(folder->Context().Paths().DatabasePath());
            DeviceRecord record{};
            std::strcpy(record.name, "Theirs");
            std::strcpy(record.host, "10.9.9.9");
            record.port = 37777;
            QVERIFY(other.AddDevices(&record, sizeof record) == 1);
            QVERIFY(other.Save() == 1);
        };
        AnswerDialog(details);
        Run(Rows({{"10.0.0.2", "8000"}}));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        DeviceCatalogue* catalogue = folder->Context().Catalogue();
        for (const char* name : {"Theirs", "Lobby1", "Cam2"}) {
            std::uint32_t id = folder->Context().Store()->FindDeviceByName(name);
            QVERIFY2(id != 0, name);
            const DeviceRecord* known = catalogue->FindDevice(static_cast<std::int32_t>(id));
            QVERIFY2(known != nullptr && QByteArray(known->name) == name, name);
        }
        QCOMPARE(catalogue->DevicesById().size(), std::size_t{3});
        QVERIFY(Stored("Theirs") != nullptr && Stored("Lobby1") != nullptr);
    }

    void everySelectedRowRegistered_toldWithoutTheDialog() {
        MessageLog log;
        SaveCounter saves(folder->Path() + QStringLiteral("XML"));
        int opened = 0;
        QPointer<QTimer> watch = WhenModal<DeviceManagementDialog>([&opened](DeviceManagementDialog* dialog) {
            ++opened;
            dialog->reject();
        });
        Run(Rows({{"10.0.0.50", "8000"}, {"10.0.0.50", "8000"}}));
        delete watch.data();
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("The selected devices are registered already.")});
        QCOMPARE(opened, 0);
        QCOMPARE(saves.Count(), 0);
    }

    void sameAddressOtherPort_isAnotherDevice() {
        MessageLog log;
        AnswerDialog(Details{});
        Run(Rows({{"10.0.0.50", "8001"}}));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        QVERIFY(Stored("Cam1") != nullptr);
    }

    void preview_namesTheDevicesAndOffersTheFirstFreeStart() {
        MessageLog log;
        QString preview;
        QString warning;
        WhenModal<DeviceManagementDialog>([&](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Cam"));
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
            preview = dialog->findChild<QLabel*>(QStringLiteral("namePreview"))->text();
            warning = dialog->findChild<QLabel*>(QStringLiteral("nameWarning"))->text();
            dialog->findChild<QPushButton*>(QStringLiteral("useFreeNumber"))->click();
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Run(Rows({{"10.0.0.1", "80"}, {"10.0.0.2", "80"}, {"10.0.0.3", "80"}, {"10.0.0.4", "80"}}));
        QCOMPARE(preview, QString::fromUtf8("4 devices: Cam1 \u2026 Cam4"));
        QCOMPARE(warning, QStringLiteral("Already registered: Cam2. Numbers from 3 are free."));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("4 devices were registered.")});
        QVERIFY(Stored("Cam3") != nullptr && Stored("Cam6") != nullptr);
    }

    void registeredRowsLeftOut_warnedRowsAsked_detailsRemembered() {
        MessageLog log;
        QString leftOut;
        QString question;
        WhenModal<QMessageBox>([&question](QMessageBox* box) {
            question = box->text();
            box->button(QMessageBox::No)->click();
        });
        Details details;
        details.organization = QStringLiteral("Harbour");
        details.beforeOk = [&leftOut] {
            leftOut = qobject_cast<QDialog*>(QApplication::activeModalWidget())
                          ->findChild<QLabel*>(QStringLiteral("leftOut"))
                          ->text();
        };
        AnswerDialog(details);
        std::vector<SelectedRow> rows = Rows({{"10.0.0.50", "8000"}, {"10.0.0.1", "80"}, {"192.168.1.108", "80"}});
        rows[2].warning = QStringLiteral("outside the adapter's subnet");
        Run(rows);
        QCOMPARE(question, QStringLiteral("These devices answered with a warning:\n192.168.1.108:80: outside the "
                                          "adapter's subnet\nRegister them too?"));
        QCOMPARE(leftOut, QStringLiteral("1 selected device is registered already and left out."));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        QVERIFY(folder->Context().Store()->FindDeviceByAddress("192.168.1.108", 80) == 0);

        // the next Add starts on the organization and user name of this one, never the password
        QString organization;
        QString user;
        QString password;
        WhenModal<DeviceManagementDialog>([&](DeviceManagementDialog* dialog) {
            organization = dialog->findChild<QLineEdit*>(QStringLiteral("organization"))->text();
            user = dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->text();
            password = dialog->findChild<QLineEdit*>(QStringLiteral("password"))->text();
            dialog->reject();
        });
        Run(Rows({{"10.0.0.9", "80"}}));
        QCOMPARE(organization, QStringLiteral("Harbour"));
        QCOMPARE(user, QStringLiteral("admin"));
        QCOMPARE(password, QString());
    }

    // Every write replaces the settings file and syncs it to disk, so an Add that keeps the details as they were
    // leaves the file alone; a changed organization or user name is still kept for the next Add.
    void rememberedDetails_settingsFileWrittenOnlyWhenTheyChange() {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        auto restore = qScopeGuard([] {
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        });
        const QString file = QSettings(QStringLiteral("Vantrel"), QStringLiteral("Vantrel")).fileName();
        QVERIFY(file.startsWith(config.path()));
        const auto harbour =
            static_cast<std::int32_t>(folder->Context().Store()->FindOrganizationByName(north, "Harbour"));
        struct Add {
            const char* address;
            const char* user;
            const char* organization;
            bool written;
        };
        const Add adds[] = {{"10.0.1.1", "admin", "", true},
                            {"10.0.1.2", "admin", "", false},
                            {"10.0.1.3", "admin", "Harbour", true},
                            {"10.0.1.4", "operator", "Harbour", true},
                            {"10.0.1.5", "operator", "Harbour", false}};
        for (const Add& add : adds) {
            struct stat before {};
            bool existed = ::stat(QFile::encodeName(file).constData(), &before) == 0;
            MessageLog log;
            Details details;
            details.name = QString::fromLatin1(add.address);
            details.user = QString::fromLatin1(add.user);
            details.organization = QString::fromLatin1(add.organization);
            AnswerDialog(details);
            Run(Rows({{add.address, "80"}}));
            QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
            struct stat after {};
            QVERIFY(::stat(QFile::encodeName(file).constData(), &after) == 0);
            bool same = existed && after.st_ino == before.st_ino && after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
                        after.st_mtim.tv_nsec == before.st_mtim.tv_nsec && after.st_size == before.st_size;
            QVERIFY2(same != add.written, add.address);
        }
        QSettings stored(file, QSettings::IniFormat);
        QStringList users;
        QList<int> organizations;
        for (const QString& key : stored.allKeys()) {
            if (key.endsWith(QStringLiteral("/userName"))) {
                users << stored.value(key).toString();
            } else if (key.endsWith(QStringLiteral("/organization"))) {
                organizations << stored.value(key).toInt();
            }
        }
        QCOMPARE(users, QStringList{QStringLiteral("operator")});
        QCOMPARE(organizations, QList<int>{harbour});
    }

    void emptyPassword_askedOnce_noReturnsToTheDialog() {
        MessageLog log;
        int shown = 0;
        std::function<void(DeviceManagementDialog*)> fill = [&shown](DeviceManagementDialog* dialog) {
            ++shown;
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Cam"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QString());
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        };
        WhenModal<DeviceManagementDialog>(fill);
        WhenModal<QMessageBox>([fill](QMessageBox* box) {
            QCOMPARE(box->text(), QStringLiteral("The password is empty. Register the devices without one?"));
            WhenModal<DeviceManagementDialog>(fill);
            box->button(QMessageBox::No)->click();
        });
        Run(Rows({{"10.0.0.1", "80"}}));
        QCOMPARE(shown, 2);  // asked once: the second OK registers
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
    }

    void saveFails_operatorToldWhichFile() {
        MessageLog log;
        // a folder where the database was: the save must not replace it
        QVERIFY(QFile::remove(folder->DatabasePath()));
        QVERIFY(QDir().mkdir(folder->DatabasePath()));
        AnswerDialog(Details{});
        Run(Rows({{"10.0.0.1", "8000"}}));
        QCOMPARE(
            log.Texts(),
            QStringList{
                QStringLiteral("The devices were not saved: %1 is not a regular file.").arg(folder->DatabasePath())});
        QCOMPARE(log.messages[0].caption, QStringLiteral("ERROR"));
    }

    void freshProgramFolder_firstAddCreatesTheDatabase() {
        folder = std::make_unique<ProgramFolder>();  // XML/ but no Data.xml yet
        QVERIFY(!QFile::exists(folder->DatabasePath()));
        folder->Reload();
        MessageLog log;
        AnswerDialog(Details{});
        Run(Rows({{"10.0.0.1", "8000"}}));
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        QVERIFY(QFile::exists(folder->DatabasePath()));
        const DeviceRecord* device = Stored("Cam1");
        QVERIFY(device != nullptr);
        QCOMPARE(StoredPassword(device->id), QByteArray("s3cret"));
    }

    void databaseThatCannotBeSaved_toldAtStartAndAddRefusedWithoutAsking() {
        QVERIFY(QFile::remove(folder->DatabasePath()));
        QVERIFY(mkfifo(folder->DatabasePath().toLocal8Bit().constData(), 0600) == 0);
        MessageLog log;
        folder->Reload();
        const QString why = folder->DatabasePath() + QStringLiteral(" is not a regular file");
        QCOMPARE(log.Texts(),
                 QStringList{why + QStringLiteral(". Nothing is saved to it, so no device can be added.")});
        log.messages.clear();
        int asked = 0;
        Run(Rows({{"10.0.0.1", "8000"}}), &asked);
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("No device can be added: %1.").arg(why)});
        QCOMPARE(asked, 1);  // the dialog was never shown
        struct stat info {};
        QVERIFY(lstat(folder->DatabasePath().toLocal8Bit().constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    }

    void startNotices_eachFindingToldOnce() {
        const QString path = folder->DatabasePath();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray saved = file.readAll();
        file.close();
        struct Case {
            const char* what;
            QByteArray contents;
            QString start;
        };
        QByteArray deep = "<DATAROOT>";
        for (int i = 0; i < 300; ++i) {
            deep += "<ORG>";
        }
        for (int i = 0; i < 300; ++i) {
            deep += "</ORG>";
        }
        deep += "</DATAROOT>";
        QByteArray tampered = saved;
        int at = tampered.indexOf("password=\"v1:") + 20;
        tampered[at] = tampered[at] == 'A' ? 'B' : 'A';
        const Case cases[] = {
            {"damaged", saved + QByteArray(1, '\0'),
             path + QStringLiteral(" is damaged (NUL byte at byte %1)").arg(saved.size())},
            {"too deep", deep, path + QStringLiteral(" is nested 301 levels deep (at most 256)")},
            {"password changed", tampered, QStringLiteral("1 password in %1 cannot be deciphered").arg(path)},
        };
        for (const Case& c : cases) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.contents);
            file.close();
            MessageLog log;
            folder->Reload();
            QVERIFY2(log.Texts().size() == 1 && log.Texts()[0].startsWith(c.start), c.what);
            QCOMPARE(log.messages[0].caption, QStringLiteral("Vantrel"));
        }
    }

    void keyMissing_askedBeforeANewKey_noAddsNothing_yesAdds() {
        const std::string keyPath = folder->Context().Paths().dataFolder + "Data.key";
        QVERIFY(QFile::remove(QString::fromStdString(keyPath)));
        MessageLog log;
        folder->Reload();
        QCOMPARE(log.Texts().size(), 1);
        QVERIFY(log.Texts()[0].contains(QStringLiteral("is missing")));
        log.messages.clear();

        for (bool yes : {false, true}) {
            SaveCounter saves(folder->Path() + QStringLiteral("XML"));
            QString asked;
            AnswerDialog(Details{});
            WhenModal<QMessageBox>([&asked, yes](QMessageBox* box) {
                asked = box->text();
                box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            Run(Rows({{"10.0.0.1", "8000"}}));
            QVERIFY(
                asked.startsWith(QStringLiteral("The key file %1 is missing").arg(QString::fromStdString(keyPath))));
            QCOMPARE(saves.Count(), yes ? 1 : 0);
            QCOMPARE(QFile::exists(QString::fromStdString(keyPath)), yes);
            QCOMPARE(folder->Context().Store()->CountDevices(), yes ? 2u : 1u);
        }
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
    }

    void secondInstance_toldAlreadyRunning() {
        const std::string dataFolder = folder->Context().Paths().dataFolder;
        InstanceLock other = TryLockInstance(dataFolder);
        QVERIFY(other.Status() == InstanceLockStatus::Held);
        MessageLog log;
        QVERIFY(!ClaimDataFolder(folder->Context()).has_value());
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("Vantrel is already running with the data folder %1. Use the "
                                                         "window that is open, or close it first.")
                                              .arg(QString::fromStdString(dataFolder))});
        other = InstanceLock();
        QVERIFY(ClaimDataFolder(folder->Context()).has_value());
        QCOMPARE(log.Texts().size(), 1);
    }

    // A lock file planted in the folder is named as what it is, not taken for a second Vantrel; a folder that
    // others may write to is warned about, and the program goes on.
    void dataFolder_plantedLockFileRefusedAndOpenFolderWarned() {
        const std::string dataFolder = folder->Context().Paths().dataFolder;
        const std::string lockPath = dataFolder + kInstanceLockFileName;
        QVERIFY(symlink((dataFolder + "elsewhere").c_str(), lockPath.c_str()) == 0);
        MessageLog log;
        QVERIFY(!ClaimDataFolder(folder->Context()).has_value());
        QCOMPARE(log.Texts(),
                 QStringList{QStringLiteral("Vantrel cannot use the data folder %1: %2 is a symbolic link, not a lock "
                                            "file. Remove that file if you do not know why it is there.")
                                 .arg(QString::fromStdString(dataFolder), QString::fromStdString(lockPath))});
        QVERIFY(unlink(lockPath.c_str()) == 0);

        QVERIFY(chmod(dataFolder.c_str(), 0777) == 0);
        QVERIFY(ClaimDataFolder(folder->Context()).has_value());
        QCOMPARE(log.Texts().size(), 2);
        QVERIFY2(log.Texts().at(1).startsWith(
                     QStringLiteral("The data folder %1 is open to other users (mode 0777): every user may")
                         .arg(QString::fromStdString(dataFolder))),
                 qPrintable(log.Texts().at(1)));
    }

    void parsePortText_takesLeadingDigits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<unsigned>("port");
        QTest::newRow("plain") << "5050" << 5050u;
        QTest::newRow("empty") << "" << 0u;
        QTest::newRow("no digit first") << "x80" << 0u;
        QTest::newRow("digits then text") << "80abc" << 80u;
        QTest::newRow("too large") << "9999999999" << 65535u;
    }
    void parsePortText_takesLeadingDigits() {
        QFETCH(QString, text);
        QFETCH(unsigned, port);
        QCOMPARE(ParsePortText(text), port);
    }
};

QTEST_MAIN(AddDeviceFlowTest)
#include "add_device_flow_test.moc"
