// Export of the found list: the files written, and a failed write told with its reason.
#include <arpa/inet.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

#include "found_list_export.h"

using namespace vantrel;

namespace {

FoundRow Row(std::uint32_t number, const char* address, bool registered) {
    FoundRow row;
    row.number = number;
    inet_pton(AF_INET, address, &row.device.address);
    row.device.subnetMask = htonl(0xFFFFFF00u);
    row.device.gateway = htonl(0xC0A80101u);
    row.device.port = 8000;
    std::strncpy(row.device.addressText, address, sizeof row.device.addressText - 1);
    row.senderAddress = row.device.address;
    std::strncpy(row.adapterName, "veth0", sizeof row.adapterName - 1);
    row.registered = registered;
    row.probesSeen = 2;
    row.replies = 2;
    row.lastReplyNs = 1'700'000'000'123'000'000LL;
    return row;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class FoundListExportTest : public QObject {
    Q_OBJECT

private slots:
    void format_followsTheFileName() {
        QCOMPARE(ExportFormatFor(QStringLiteral("/tmp/found.json")), ExportFormat::kJson);
        QCOMPARE(ExportFormatFor(QStringLiteral("FOUND.JSON")), ExportFormat::kJson);
        QCOMPARE(ExportFormatFor(QStringLiteral("found.csv")), ExportFormat::kCsv);
        QCOMPARE(ExportFormatFor(QStringLiteral("found.json.txt")), ExportFormat::kCsv);
    }

    // The fields themselves are the writers' (and the window test reads them back); here: the file on disk.
    void write_eachFormatAsAWholeFileReplacingAnEarlierOne() {
        QTemporaryDir dir;
        const std::vector<FoundRow> rows = {Row(1, "192.168.1.100", false), Row(2, "192.168.1.101", true)};
        QString problem;
        const QString csv = dir.filePath(QStringLiteral("found.csv"));
        QVERIFY(WriteFoundList(csv, ExportFormat::kCsv, rows, 3, problem));
        QCOMPARE(Contents(csv).count('\n'), 3);  // headings and two rows
        const QString json = dir.filePath(QStringLiteral("found.json"));
        QVERIFY(WriteFoundList(json, ExportFormat::kJson, rows, 3, problem));
        QCOMPARE(QJsonDocument::fromJson(Contents(json)).array().size(), 2);
        QVERIFY(WriteFoundList(json, ExportFormat::kJson, {}, 0, problem));
        QCOMPARE(Contents(json).trimmed(), QByteArray("[]"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary file left behind
    }

    void write_failureKeepsTheEarlierFileAndSaysWhy() {
        QTemporaryDir dir;
        QString problem;
        // a folder that is a file: nothing can be created beneath it
        const QString notAFolder = dir.filePath(QStringLiteral("plain"));
        QVERIFY(WriteFoundList(notAFolder, ExportFormat::kCsv, {Row(1, "10.0.0.1", false)}, 1, problem));
        const QByteArray before = Contents(notAFolder);
        QVERIFY(!WriteFoundList(notAFolder + QStringLiteral("/found.csv"), ExportFormat::kCsv, {}, 1, problem));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(Contents(notAFolder), before);
        // a name that is a folder is not replaced
        QVERIFY(!WriteFoundList(dir.path(), ExportFormat::kCsv, {}, 1, problem));
        QVERIFY(QFileInfo(dir.path()).isDir());
    }
};

QTEST_MAIN(FoundListExportTest)
#include "found_list_export_test.moc"
