// "Search networks": the list of networks as the operator types it, and the dialog that refuses a bad one.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "search_networks_dialog.h"

using namespace vantrel;

class SearchNetworksDialogTest : public QObject {
    Q_OBJECT

private slots:
    void parse_entriesSeparatedAnyWayRepeatsDropped() {
        std::vector<SearchTarget> targets;
        QString problem;
        QVERIFY(ParseSearchTargets(QStringLiteral("  10.1.2.7/24\n10.3.0.10-10.3.0.20, 10.4.0.9;\t10.1.2.0/24\n\n"),
                                   targets, problem));
        QVERIFY(problem.isEmpty());
        QCOMPARE(SearchTargetsText(targets), QStringLiteral("10.1.2.0/24\n10.3.0.10-10.3.0.20\n10.4.0.9"));
        QCOMPARE(targets[0].kind, SearchTarget::Kind::kDirectedBroadcast);
        QCOMPARE(targets[1].ProbeCount(), 11u);

        QVERIFY(ParseSearchTargets(QStringLiteral(" \n "), targets, problem));
        QVERIFY(targets.empty());  // nothing typed: the local network only
    }

    void parse_refusesNamingTheEntryAndKeepsTheOldList() {
        std::vector<SearchTarget> targets;
        QString problem;
        QVERIFY(ParseSearchTargets(QStringLiteral("10.9.0.0/24"), targets, problem));
        // the second entry is refused (the parser's own tests cover every form it refuses)
        QVERIFY(!ParseSearchTargets(QStringLiteral("10.1.2.0/24 10.1.300.0/24"), targets, problem));
        QVERIFY2(problem.contains(QStringLiteral("10.1.300.0/24")), qPrintable(problem));
        QCOMPARE(SearchTargetsText(targets), QStringLiteral("10.9.0.0/24"));
        // each range fits, together they hold too many addresses
        QVERIFY(!ParseSearchTargets(QStringLiteral("10.1.0.0-10.1.255.255 10.2.0.0-10.2.0.9"), targets, problem));
        QVERIFY2(problem.contains(QStringLiteral("together")), qPrintable(problem));
    }

    void statusLine_namesTheNetworksSearched_data() {
        QTest::addColumn<QString>("networks");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("local only") << ""
                                    << "5 devices found"
                                    << "5 devices found";
        QTest::newRow("one network") << "10.1.2.0/24"
                                     << "5 devices found (1 already registered)"
                                     << "5 devices found on the local networks and 10.1.2.0/24 (1 already registered)";
        QTest::newRow("two") << "10.1.2.0/24 10.4.0.1-10.4.0.9"
                             << "1 device found"
                             << "1 device found on the local networks, 10.1.2.0/24 and 10.4.0.1-10.4.0.9";
        QTest::newRow("five: the last counted") << "10.1.0.0/24 10.2.0.0/24 10.3.0.0/24 10.4.0.0/24 10.5.0.7"
                                                << "0 devices found; 3 replies rejected"
                                                << "0 devices found on the local networks, 10.1.0.0/24, 10.2.0.0/24, "
                                                   "10.3.0.0/24 and 2 more; 3 replies rejected";
        QTest::newRow("nothing found yet")
            << "10.1.2.0/24" << QString::fromUtf8("Searching\u2026") << QString::fromUtf8("Searching\u2026");
    }
    void statusLine_namesTheNetworksSearched() {
        QFETCH(QString, networks);
        QFETCH(QString, status);
        QFETCH(QString, shown);
        std::vector<SearchTarget> targets;
        QString problem;
        QVERIFY(ParseSearchTargets(networks, targets, problem));
        QCOMPARE(WithSearchedNetworks(status, targets), shown);
    }

    void dialog_staysOpenOnABadEntryAndAcceptsAGoodOne() {
        SearchTarget known;
        std::string why;
        QVERIFY(ParseSearchTarget("10.5.0.0/16", known, why));
        SearchNetworksDialog dialog({known});
        dialog.show();
        auto* entries = dialog.findChild<QPlainTextEdit*>(QStringLiteral("networks"));
        auto* problem = dialog.findChild<QLabel*>(QStringLiteral("problem"));
        QCOMPARE(entries->toPlainText(), QStringLiteral("10.5.0.0/16"));
        QVERIFY(!problem->isVisible());

        entries->setPlainText(QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0"));
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        QVERIFY(dialog.isVisible());
        QVERIFY(problem->isVisible());
        QVERIFY2(problem->text().contains(QStringLiteral("10.6.0.1-10.6.0")), qPrintable(problem->text()));
        QCOMPARE(dialog.Targets().size(), 1u);

        entries->setPlainText(QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0.4"));
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(SearchTargetsText(dialog.Targets()), QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0.4"));
    }
};

QTEST_MAIN(SearchNetworksDialogTest)
#include "search_networks_dialog_test.moc"
