// The Devices window on a real Data.xml in a temporary program folder: the tree, Edit, Remove, Move, the
// answering marks fed with search rows, Check on loopback and Open web page.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>
#include <fstream>

#include "catalogue/registration.h"
#include "store/xml_device_store.h"
#include "ui/device_edit_dialog.h"
#include "ui/devices_window.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::WhenModal;

namespace {

// Gate (North, two channels, on the map with its second channel), Yard (top level) and Lost, whose organization
// is gone. Gate listens on 127.0.0.1:8000 in the Check test; nothing listens on Yard's port.
const char kDatabase[] =
    "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"North\"><ORG id=\"2\" name=\"Harbour\"/></ORG></ORGINFO><DEVINFO>"
    "<DEV id=\"10\" ip=\"0\" name=\"Gate\" host=\"127.0.0.1\" port=\"8000\" cameras=\"2\" ddnsFlag=\"0\" DDNSHost=\"\" "
    "DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"1\" password=\"\">"
    "<DEV id=\"11\" type=\"0\" name=\"Gate_1\" channel=\"0\" desc=\"\"/>"
    "<DEV id=\"12\" type=\"1\" name=\"Gate_alarm1\" channel=\"0\" desc=\"\"/>"
    "<DEV id=\"13\" type=\"0\" name=\"Gate_2\" channel=\"1\" desc=\"\"/>"
    "<DEV id=\"14\" type=\"1\" name=\"Gate_alarm2\" channel=\"1\" desc=\"\"/></DEV>"
    "<DEV id=\"20\" ip=\"0\" name=\"Yard\" host=\"127.0.0.1\" port=\"8001\" cameras=\"1\" ddnsFlag=\"0\" DDNSHost=\"\" "
    "DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"0\" password=\"\">"
    "<DEV id=\"21\" type=\"0\" name=\"Yard_1\" channel=\"0\" desc=\"\"/>"
    "<DEV id=\"22\" type=\"1\" name=\"Yard_alarm1\" channel=\"0\" desc=\"\"/></DEV>"
    "<DEV id=\"30\" ip=\"0\" name=\"Lost\" host=\"10.0.0.3\" port=\"80\" cameras=\"0\" ddnsFlag=\"0\" DDNSHost=\"\" "
    "DDNSPort=\"0\" desc=\"\" username=\"\" OrgId=\"99\" password=\"\"/></DEVINFO>"
    "<MAPINFO><IIMG id=\"1\"><IDEV id=\"10\" pos=\"0\"/><IDEV id=\"13\" pos=\"0\"/><IDEV id=\"21\" pos=\"0\"/></IIMG>"
    "</MAPINFO><GLOBAL index=\"40\"/></DATAROOT>";

FoundRow Answer(const char* address, std::uint16_t port) {
    FoundRow row;
    in_addr parsed{};
    inet_pton(AF_INET, address, &parsed);
    row.device.address = parsed.s_addr;
    std::strncpy(row.device.addressText, address, sizeof row.device.addressText - 1);
    row.device.port = port;
    return row;
}

void AnswerQuestion(bool yes, QString* text = nullptr) {
    WhenModal<QMessageBox>([yes, text](QMessageBox* box) {
        if (text != nullptr) {
            *text = box->text();
        }
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
}

}  // namespace

class UrlReceiver : public QObject {
    Q_OBJECT

public:
    QUrl opened;

public slots:
    void Open(const QUrl& url) { opened = url; }
};

class DevicesWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<DevicesWindow> window;

    std::string FileText() {
        std::ifstream in(folder->DatabasePath().toStdString(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    QTreeWidget* Tree() { return window->findChild<QTreeWidget*>(QStringLiteral("deviceTree")); }
    QTreeWidgetItem* Item(const QString& text) {
        QList<QTreeWidgetItem*> found = Tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive, 0);
        return found.isEmpty() ? nullptr : found.first();
    }
    void Select(const QStringList& names) {
        Tree()->clearSelection();
        for (const QString& name : names) {
            QTreeWidgetItem* item = Item(name);
            QVERIFY2(item != nullptr, qPrintable(name));
            item->setSelected(true);
        }
    }
    void Click(const char* button) { window->findChild<QPushButton*>(QString::fromLatin1(button))->click(); }
    // Every item with its place and texts, children sorted: what the operator can see of a tree.
    static QStringList Shown(QTreeWidget* tree) {
        QStringList lines;
        for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
            QStringList texts;
            for (int c = 0; c < DevicesWindow::kAnswering; ++c) {
                texts << (*it)->text(c);
            }
            QString parent = (*it)->parent() != nullptr ? (*it)->parent()->text(0) : QString();
            lines << parent + QStringLiteral(" > ") + texts.join(QLatin1Char('|'));
        }
        lines.sort();
        return lines;
    }
    // A change updates the items it touched in place: the tree must read as a window opened afresh would show it.
    void VerifyAsReopened() {
        DevicesWindow reopened(folder->Context());
        QCOMPARE(Shown(Tree()), Shown(reopened.findChild<QTreeWidget*>(QStringLiteral("deviceTree"))));
    }
    // The device as a fresh start of the program reads it, password deciphered.
    DeviceRecord Stored(const char* name) {
        XmlDeviceStore store(folder->DatabasePath().toStdString());
        DeviceRecord record{};
        std::uint32_t id = store.FindDeviceByName(name);
        if (id != 0) {
            store.LoadDeviceRecord(id, &record);
        }
        return record;
    }

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        std::ofstream(folder->DatabasePath().toStdString(), std::ios::binary) << kDatabase;
        folder->Reload();
        // Gate gets a real password, as the program would have enciphered it
        DeviceStore* store = folder->Context().Store();
        DeviceRecord gate = *folder->Context().Catalogue()->FindDevice(10);
        std::strcpy(gate.password, "s3cret");
        QCOMPARE(QString::fromStdString(ChangeDevice(*store, 10, gate, nullptr)), QString());
        QCOMPARE(store->Save(), 1);
        folder->Reload();
        window = std::make_unique<DevicesWindow>(folder->Context());
        window->show();
    }
    void cleanup() {
        window.reset();
        folder.reset();
    }

    void opening_showsTheOrganizationTreeWithEveryDevice() {
        QTreeWidgetItem* root = Tree()->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("Organization"));
        QCOMPARE(Item(QStringLiteral("Gate"))->parent()->text(0), QStringLiteral("North"));
        QCOMPARE(Item(QStringLiteral("Yard"))->parent(), root);
        QCOMPARE(Item(QStringLiteral("Lost"))->parent()->text(0), QStringLiteral("Without organization"));
        QTreeWidgetItem* gate = Item(QStringLiteral("Gate"));
        QStringList columns;
        for (int c = DevicesWindow::kAddress; c <= DevicesWindow::kOrganization; ++c) {
            columns << gate->text(c);
        }
        QCOMPARE(columns, (QStringList{"127.0.0.1", "8000", "2", "admin", "North"}));
        QCOMPARE(Item(QStringLiteral("Lost"))->text(DevicesWindow::kOrganization), QStringLiteral("[99]"));
        QVERIFY(Item(QStringLiteral("Harbour")) != nullptr);
    }

    void edit_passwordKeptThenChanged_channelsDownThenUp() {
        auto edit = [](const QString& name, const QString& channels, const QString& password) {
            WhenModal<DeviceEditDialog>([=](DeviceEditDialog* dialog) {
                dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(name);
                dialog->findChild<QLineEdit*>(QStringLiteral("totalChannel"))->setText(channels);
                dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(password);
                dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            });
        };
        Select({QStringLiteral("Gate")});
        edit(QStringLiteral("Door"), QStringLiteral("1"), QString());
        Click("editButton");
        std::string text = FileText();
        QCOMPARE(QByteArray(Stored("Door").password), QByteArray("s3cret"));
        QVERIFY(text.find("name=\"Door_1\"") != std::string::npos);
        QVERIFY(text.find("Gate_2") == std::string::npos);
        QVERIFY(text.find("<IDEV id=\"13\"") == std::string::npos);  // the removed channel's map item
        QVERIFY(text.find("<IDEV id=\"10\"") != std::string::npos);
        QCOMPARE(Item(QStringLiteral("Door"))->text(DevicesWindow::kChannels), QStringLiteral("1"));
        VerifyAsReopened();

        Select({QStringLiteral("Door")});
        edit(QStringLiteral("Door"), QStringLiteral("3"), QStringLiteral("n3w"));
        Click("editButton");
        text = FileText();
        QCOMPARE(QByteArray(Stored("Door").password), QByteArray("n3w"));
        QVERIFY(text.find("name=\"Door_3\"") != std::string::npos);
        QVERIFY(text.find("name=\"Door_alarm3\"") != std::string::npos);
    }

    void edit_duplicateNameRefusedAndTheDialogStaysOpen() {
        MessageLog log;
        Select({QStringLiteral("Gate")});
        WhenModal<DeviceEditDialog>([](DeviceEditDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Yard"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            QVERIFY(dialog->isVisible());
            dialog->reject();
        });
        std::string before = FileText();
        Click("editButton");
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("The name of this device has existed!")});
        QCOMPARE(FileText(), before);
    }

    void remove_oneQuestionWithTheNames_mapItemsGoToo() {
        Select({QStringLiteral("Gate"), QStringLiteral("Yard")});
        QString question;
        AnswerQuestion(false, &question);
        Click("removeButton");
        QVERIFY2(question.startsWith(QStringLiteral("Remove 2 devices: Gate, Yard?")), qPrintable(question));
        QVERIFY(Item(QStringLiteral("Gate")) != nullptr);

        AnswerQuestion(true);
        Click("removeButton");
        std::string text = FileText();
        QVERIFY(text.find("Gate") == std::string::npos);
        QVERIFY(text.find("Yard") == std::string::npos);
        QVERIFY(text.find("IDEV") == std::string::npos);
        QVERIFY(Item(QStringLiteral("Gate")) == nullptr);
        QVERIFY(Item(QStringLiteral("Lost")) != nullptr);
        VerifyAsReopened();
    }

    void move_orphanGoesToTheChosenOrganization() {
        QSignalSpy changed(window.get(), &DevicesWindow::DevicesChanged);
        Select({QStringLiteral("Lost")});
        WhenModal<QDialog>([](QDialog* dialog) {
            auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("moveTree"));
            tree->setCurrentItem(tree->findItems(QStringLiteral("Harbour"), Qt::MatchExactly | Qt::MatchRecursive)[0]);
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Click("moveButton");
        QCOMPARE(Stored("Lost").orgId, 2u);
        QCOMPARE(Item(QStringLiteral("Lost"))->parent()->text(0), QStringLiteral("Harbour"));
        QVERIFY(Item(QStringLiteral("Without organization")) == nullptr);
        QCOMPARE(changed.count(), 1);
        VerifyAsReopened();
    }

    void saveFails_toldAndTheWindowShowsTheFile() {
        // another program changes the file after it was loaded: an edit cannot be applied over it
        {
            XmlDeviceStore other(folder->DatabasePath().toStdString());
            QVERIFY(other.RemoveDevice(30, nullptr) == 1);
            QVERIFY(other.Save() == 1);
        }
        MessageLog log;
        Select({QStringLiteral("Gate")});
        WhenModal<QDialog>([](QDialog* dialog) {
            auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("moveTree"));
            tree->setCurrentItem(tree->topLevelItem(0));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Click("moveButton");
        QCOMPARE(log.messages.size(), std::size_t(1));
        QVERIFY2(log.messages[0].text.startsWith(QStringLiteral("Nothing was moved: ")),
                 qPrintable(log.messages[0].text));
        QCOMPARE(Stored("Gate").orgId, 1u);
        QCOMPARE(Item(QStringLiteral("Gate"))->parent()->text(0), QStringLiteral("North"));
        QVERIFY(Item(QStringLiteral("Lost")) == nullptr);  // what the file holds now
    }

    void answering_markedByAddressAndPortOnly() {
        QCOMPARE(Item(QStringLiteral("Gate"))->text(DevicesWindow::kAnswering), QString());
        // Yard's address with another port: the same device moved, or another one; not guessed at
        window->ShowAnswers({Answer("127.0.0.1", 8000), Answer("127.0.0.1", 9999)});
        QCOMPARE(Item(QStringLiteral("Gate"))->text(DevicesWindow::kAnswering), QStringLiteral("answering"));
        QCOMPARE(Item(QStringLiteral("Yard"))->text(DevicesWindow::kAnswering), QStringLiteral("not answering"));
        window->ShowAnswers({});  // a new round, nothing answered yet
        QCOMPARE(Item(QStringLiteral("Gate"))->text(DevicesWindow::kAnswering), QStringLiteral("not answering"));
    }

    void check_connectsToAListeningPortAndIsRefusedByAClosedOne() {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(8000);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        QVERIFY(listen(listener, 4) == 0);
        Select({QStringLiteral("Gate"), QStringLiteral("Yard")});
        Click("checkButton");
        QTRY_VERIFY(
            Item(QStringLiteral("Gate"))->text(DevicesWindow::kCheck).startsWith(QStringLiteral("connected in ")));
        QTRY_COMPARE(Item(QStringLiteral("Yard"))->text(DevicesWindow::kCheck), QStringLiteral("refused"));
        close(listener);
    }

    void openWebPage_asksTheDesktopForTheAddressOverHttp() {
        UrlReceiver receiver;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &receiver, "Open");
        Select({QStringLiteral("Gate")});
        Click("webButton");
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(receiver.opened, QUrl(QStringLiteral("http://127.0.0.1/")));
    }
};

QTEST_MAIN(DevicesWindowTest)
#include "devices_window_test.moc"
