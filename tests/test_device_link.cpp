// The window against the simulated instrument over a real pseudo-terminal and a real QSerialPort,
// driven through its widgets, the ticks invoked one by one. The real timer runs in test_chaos.
#include "testsupport/WindowRig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

using testsupport::WindowRig;

Q_DECLARE_METATYPE(SimIdentity)
Q_DECLARE_METATYPE(SimSettings)

namespace {

// A sentence framed with "$", checksum and CR LF; the checksum is computed here independently.
QByteArray Framed(const QByteArray& baBody) {
    uint8_t bySum = 0;
    for (const char c : baBody)
        bySum ^= static_cast<uint8_t>(c);
    return "$" + baBody + "*" + QByteArray::number(bySum, 16).rightJustified(2, '0').toUpper() + "\r\n";
}
// As the sent pane shows a command: the pane turns CR LF into one line break.
QString PaneLine(const QByteArray& baBody) {
    return QString::fromLatin1(Framed(baBody).replace("\r\n", "\n"));
}

QString IdentityLine(const char* pszModel) {
    return QString::asprintf("Device: %s (512), Produced: A7, FW: 1.4.B7, HW: 2.0", pszModel);
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> pRig;

    QString Label() const { return pRig->Find<QLabel>("deviceInfoLabel")->text(); }
    QString Button() const { return pRig->Find<QPushButton>("connectButton")->text(); }
    QList<QByteArray> Sent() const { return pRig->sim.ReceivedSentences(); }
    QString Pane(const char* pszName) const { return pRig->Find<QTextEdit>(pszName)->toPlainText(); }
    bool Hidden(const char* pszGroup) const { return pRig->Find<QGroupBox>(pszGroup)->isHidden(); }
    void Press(const char* pszButton) { pRig->Click(pszButton); }
    void Tick(int iTimes = 1) {
        for (int i = 0; i < iTimes; i++)
            pRig->Tick();
    }
    // Connect pressed and the opening tick run: the next tick polls.
    void Open() {
        Press("connectButton");
        Tick();
    }
    // Identity, then settings, each asked for by one tick and answered before the next.
    void Learn(const QString& sLine) {
        Open();
        Tick();
        QTRY_COMPARE(Label(), sLine);
        Tick();
        QTRY_COMPARE(pRig->Shown(), pRig->Stored());
    }
    // A Pelko_2's group in its own order, pair key and protocol; any other model's is the first group.
    QString ShownIn(const QString& sGroup) const {
        if (sGroup != QLatin1String("settings2Group"))
            return pRig->Shown();
        return QStringLiteral("%1,%2")
            .arg(pRig->Find<QSpinBox>("pairKey2Spin")->value())
            .arg(pRig->Find<QComboBox>("telemetry2Combo")->currentIndex());
    }
    void TypeIn(const QString& sGroup, const QString& sValues) {
        if (sGroup != QLatin1String("settings2Group")) {
            pRig->Type(sValues);
            return;
        }
        pRig->Find<QSpinBox>("pairKey2Spin")->setValue(sValues.section(QLatin1Char(','), 0, 0).toInt());
        pRig->Find<QComboBox>("telemetry2Combo")
            ->setCurrentIndex(sValues.section(QLatin1Char(','), 1).toInt());
    }

private slots:
    void init() {
        pRig = std::make_unique<WindowRig>();
        QVERIFY(pRig->MakeWindow());
    }
    void cleanup() { pRig.reset(); }

    // The system's ports, then the extra ones, each opened by its own path. A window starts on the first
    // extra port; Refresh lists afresh and starts on the first port of all.
    void extraPortsFollowSystemPorts() {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const QString sLink = pRig->sim.DevicePath();
        const QString sMissing = pRig->lineDir.filePath(QStringLiteral("missing"));
        const QChar cSeparator = QDir::listSeparator();
        qputenv("VORNIK_EXTRA_PORTS",
                (cSeparator + sMissing + cSeparator + cSeparator + sLink).toLocal8Bit());
        QVERIFY(!pRig->MakeWindow());
        QComboBox* pCombo = pRig->Find<QComboBox>("portCombo");
        QCOMPARE(pCombo->currentText(), sMissing);
        pCombo->setCurrentIndex(pCombo->count() - 1);
        Press("refreshButton");
        QCOMPARE(pCombo->currentIndex(), 0);
        QCOMPARE(pCombo->count(), ports.size() + 2);
        for (int i = 0; i < pCombo->count(); i++) {
            QCOMPARE(pCombo->itemData(i), QVariant(i));
            QCOMPARE(pCombo->itemText(i), i < ports.size()    ? ports[i].portName()
                                          : i == ports.size() ? sMissing
                                                              : sLink);
        }
        pCombo->setCurrentIndex(ports.size());
        Open();
        QCOMPARE(pRig->Count(QStringLiteral("Com open failed: ")), 1);
        QCOMPARE(Button(), QStringLiteral("Disconnect"));
        Press("connectButton");
        pCombo->setCurrentIndex(ports.size() + 1);
        Learn(IdentityLine("Tovak_2"));

        qunsetenv("VORNIK_EXTRA_PORTS");
        pRig->MakeWindow();
        QCOMPARE(pRig->Find<QComboBox>("portCombo")->count(), ports.size());
        // With no port to choose, Connect stays Connect.
        pRig->Find<QComboBox>("portCombo")->clear();
        Press("connectButton");
        QVERIFY(pRig->Logged("No COM port to connect!"));
        QVERIFY(Button() == QLatin1String("Connect") &&
                pRig->Find<QPushButton>("refreshButton")->isEnabled());
    }

    // Nothing goes out at the press nor at the opening tick; from the next tick on, every tick asks a
    // silent instrument again.
    void pollAsksEveryTickUntilAnswered() {
        pRig->sim.SetSilent(true);
        Press("connectButton");
        QVERIFY(Button() == QLatin1String("Disconnect") &&
                !pRig->Find<QPushButton>("refreshButton")->isEnabled());
        Tick();
        QCOMPARE(Pane("sentText"), QString());
        for (int i = 1; i <= 3; i++) {
            Tick();
            QTRY_COMPARE(Sent(), QList<QByteArray>(i, "VNREQ,0"));
        }
        QCOMPARE(Pane("sentText"), PaneLine("VNREQ,0").repeated(3));
        QCOMPARE(Label(), QString());
    }

    // A body fills the 1024-byte buffer with "$", checksum and line end at 1017 characters; a longer
    // one is refused whole. The instrument drops such a sentence as too long but counts it.
    void commandLengthLimit_data() {
        QTest::addColumn<int>("length");
        for (const int iLength : {1017, 1018, 5000})
            QTest::addRow("%d", iLength) << iLength;
    }
    void commandLengthLimit() {
        QFETCH(int, length);
        const bool bSent = length <= 1017;
        Open();
        const QByteArray baBody = "VNX," + QByteArray(length - 4, 'A');
        QCOMPARE(pRig->pWindow->SendCommand(baBody.constData()), bSent);
        QCOMPARE(Pane("sentText"), bSent ? PaneLine(baBody) : QString());
        pRig->pWindow->SendCommand("VNREQ,0");
        QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
        QCOMPARE(pRig->sim.BadSentenceCount(), bSent ? 1 : 0);
    }

    // Connect pressed before the instrument is plugged in: the opening is tried again every other tick
    // until the port opens. Disconnect ends the attempts, and before the opening tick it cancels the
    // opening: anything sent while idle would stand before the next connection's request.
    void openingRetriedUntilPlugged() {
        pRig->sim.Unplug();
        Press("connectButton");
        Tick(3);
        QCOMPARE(pRig->Count(QStringLiteral("Com open failed: ")), 2);
        QCOMPARE(Button(), QStringLiteral("Disconnect"));
        QVERIFY(pRig->sim.Replug());
        Tick(3);
        QTRY_COMPARE(Label(), IdentityLine("Tovak_2"));

        for (const bool bPlugged : {false, true}) {
            Press("connectButton");
            if (!bPlugged)
                pRig->sim.Unplug();
            Press("connectButton");
            Tick(bPlugged ? 0 : 1);
            Press("connectButton");
            QVERIFY(pRig->sim.Replug());
            pRig->sim.ClearLog();
            Tick(4);
            QCOMPARE(pRig->ReadSoFar(), QList<QByteArray>());
            QCOMPARE(Button(), QStringLiteral("Connect"));
            pRig->sim.ClearLog();
            Open();
            Tick();
            QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
        }
        QCOMPARE(pRig->Count(QStringLiteral("Com open failed: ")), 3);
    }

    // Per model: its identity line, the group shown with what the instrument stores, values beyond a
    // widget's range as its nearest bound, and what Save sends right behind the poll's requests (the
    // logbook's first row for a model that keeps one). Save sends what is shown or typed, except a
    // protocol the list lacks, which goes back as the instrument reported it. A settings sentence short
    // of the protocol field, pushed unasked, leaves a Pelko_2's group as it was.
    void session_data() {
        QTest::addColumn<SimIdentity>("identity");
        QTest::addColumn<SimSettings>("stored");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QByteArray>("pushed");
        QTest::addColumn<QString>("shown"); // in the group's order
        QTest::addColumn<QString>("typed"); // empty: saved as shown
        QTest::addColumn<QByteArray>("saved");
        const SimSettings defaults;
        QTest::newRow("Tovak_2") << SimIdentity{} << defaults << IdentityLine("Tovak_2") << "settingsGroup"
                                 << QByteArray() << "80,1.5,50,-1,0,1"
                                 << "80,10.0,50,-1,123456,4"
                                 << QByteArray("VNSET2,80,10.0,50,4294967295,123456,4");
        QTest::newRow("Ulmar, largest serial, below the bounds")
            << SimIdentity{"Ulmar", "P17", 4294967295u, 1, 4, 7, "3"} << SimSettings{-128, 2, 0, -1, 0, 0}
            << "Device: Ulmar (4294967295), Produced: P17, FW: 1.4.B7, HW: 3.0"
            << "settingsGroup" << QByteArray() << "-10,0.5,0,-1,0,0" << QString()
            << QByteArray("VNSET2,-10,0.5,0,4294967295,0,0");
        QTest::newRow("Ulmar variant, above the bounds")
            << SimIdentity{"Ulmar_XL"} << SimSettings{127, 100, 100, 24, 3000000000u, 4}
            << IdentityLine("Ulmar_XL") << "settingsGroup" << QByteArray() << "120,10.0,100,24,999999,4"
            << QString() << QByteArray("VNSET2,120,10.0,100,24,999999,4");
        QTest::newRow("unknown protocol")
            << SimIdentity{} << SimSettings{80, 15, 50, 3, 17, 7} << IdentityLine("Tovak_2")
            << "settingsGroup" << QByteArray() << "80,1.5,50,3,17,-1" << QString()
            << QByteArray("VNSET2,80,1.5,50,3,17,7");
        QTest::newRow("Pelko_2") << SimIdentity{"Pelko_2"} << SimSettings{80, 15, 50, 3, 4711, 3}
                                 << IdentityLine("Pelko_2") << "settings2Group" << QByteArray() << "4711,3"
                                 << "654321,1" << QByteArray("VNSET2,654321,1");
        QTest::newRow("Pelko_2, above the bounds")
            << SimIdentity{"Pelko_2"} << SimSettings{80, 15, 50, 3, 3000000000u, 4} << IdentityLine("Pelko_2")
            << "settings2Group" << QByteArray() << "999999,-1" << QString() << QByteArray("VNSET2,999999,4");
        QTest::newRow("Pelko_2, five fields pushed")
            << SimIdentity{"Pelko_2"} << SimSettings{80, 15, 50, 3, 4711, 2} << IdentityLine("Pelko_2")
            << "settings2Group" << QByteArray("VNSET2,33,2.0,40,1,8") << "4711,2" << QString()
            << QByteArray("VNSET2,4711,2");
        // The instrument's texts are shown as the characters it sent, never as markup.
        QTest::newRow("unknown model, markup and UTF-8")
            << SimIdentity{"<b>T\xc3\xb6vak</b>", "<i>x</i>", 0, 1, 4, 7, ""} << defaults
            << QString::fromUtf8("Device: <b>T\xc3\xb6vak</b> (0), Produced: <i>x</i>, FW: 1.4.B7, HW: 0.0")
            << QString() << QByteArray() << "80,1.5,50,-1,0,1" << QString() << QByteArray();
    }
    void session() {
        QFETCH(SimIdentity, identity);
        QFETCH(SimSettings, stored);
        QFETCH(QString, line);
        QFETCH(QString, group);
        QFETCH(QByteArray, pushed);
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QByteArray, saved);
        pRig->sim.SetIdentity(identity);
        pRig->sim.SetSettings(stored);
        Open();
        Tick();
        QTRY_COMPARE(Label(), line);
        QCOMPARE(pRig->Find<QLabel>("deviceInfoLabel")->textFormat(), Qt::PlainText);
        Tick();
        QTRY_COMPARE(ShownIn(group), shown);
        for (const char* pszGroup : {"settingsGroup", "settings2Group"})
            QCOMPARE(Hidden(pszGroup), group != QLatin1String(pszGroup));
        if (!pushed.isEmpty()) {
            pRig->sim.SendTraffic(Framed(pushed));
            // The first group takes every settings sentence: its TE level tells this one was read.
            QTRY_COMPARE(pRig->Find<QSpinBox>("teLevelSpin")->value(), pushed.split(',')[1].toInt());
            QCOMPARE(ShownIn(group), shown);
        }
        Tick(2);
        if (!typed.isEmpty())
            TypeIn(group, typed);
        Press(group == QLatin1String("settings2Group") ? "save2Button" : "saveButton");
        QList<QByteArray> expected{"VNREQ,0", "VNREQ,1"};
        if (group == QLatin1String("settingsGroup"))
            expected << "VNREQ,40,0";
        if (!saved.isEmpty())
            expected << saved;
        expected << "VNREQ,1";
        QTRY_COMPARE(Sent(), expected);
        // What the instrument reports, not what was typed.
        QTRY_COMPARE(pRig->Shown(), pRig->Stored());
    }

    // Replies in pieces, with noise and garbled copies under wrong checksums around them, are taken
    // whole and only once; the panes show the traffic while "Enable Output" is checked. The port is set
    // as the instrument's line runs, which a pseudo-terminal would not mind otherwise.
    void lineConditions_data() {
        QTest::addColumn<int>("pieces");
        QTest::addColumn<bool>("noise");
        QTest::addColumn<bool>("output");
        QTest::newRow("clean") << 1 << false << true;
        QTest::newRow("clean, output off") << 1 << false << false;
        QTest::newRow("split over reads") << 7 << false << true;
        QTest::newRow("noise and bad checksums") << 3 << true << true;
    }
    void lineConditions() {
        QFETCH(int, pieces);
        QFETCH(bool, noise);
        QFETCH(bool, output);
        pRig->sim.SetSplitWrites(pieces, 5);
        pRig->sim.SetNoise(noise);
        pRig->sim.SetBadChecksums(noise);
        pRig->Find<QCheckBox>("enableOutputCheck")->setChecked(output);
        Learn(IdentityLine("Tovak_2"));
        QCOMPARE(pRig->sim.LineSettings(), QStringLiteral("115200 8N1, no flow control"));
        Tick();
        QTRY_COMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1", "VNREQ,40,0"}));
        // A garbled copy travels in the same write as its sentence, so it has been read by now.
        QCOMPARE(Label(), IdentityLine("Tovak_2"));
        QCOMPARE(pRig->Shown(), pRig->Stored());
        QCOMPARE(Pane("sentText"),
                 output ? PaneLine("VNREQ,0") + PaneLine("VNREQ,1") + PaneLine("VNREQ,40,0") : QString());
        QCOMPARE(Pane("receivedText").isEmpty(), !output);
        QCOMPARE(Pane("receivedText").startsWith(PaneLine("VNINFO2,Tovak_2,A7,512,1,4,7,2.0")),
                 output && !noise);
    }

    // Both requests reach the instrument before it reads, so both answers come back in one read; the
    // settings group shows only if the identity in front of them was taken first.
    void severalSentencesInOneRead() {
        Open();
        Tick();
        Press("saveButton");
        QTRY_VERIFY(!Hidden("settingsGroup"));
        QCOMPARE(Label(), IdentityLine("Tovak_2"));
        QCOMPARE(pRig->Shown(), pRig->Stored());
    }

    // Disconnect pressed or the cable pulled: back to idle with everything learnt forgotten, and the next
    // connection starts from the identity.
    void linkEndReturnsToIdle_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<bool>("unplug");
        QTest::newRow("Tovak_2, Disconnect") << QByteArray("Tovak_2") << false;
        QTest::newRow("Pelko_2, Disconnect") << QByteArray("Pelko_2") << false;
        QTest::newRow("Tovak_2, cable pulled") << QByteArray("Tovak_2") << true;
    }
    void linkEndReturnsToIdle() {
        QFETCH(QByteArray, model);
        QFETCH(bool, unplug);
        pRig->sim.SetIdentity({model});
        Learn(IdentityLine(model.constData()));
        pRig->Find<QComboBox>("flightCombo")->addItem(QStringLiteral("flight"));
        if (unplug)
            pRig->sim.Unplug();
        else
            Press("connectButton");
        QTRY_COMPARE(Button(), QStringLiteral("Connect"));
        QCOMPARE(pRig->Count(QStringLiteral("Com port lost: ")), unplug ? 1 : 0);
        // The press that disconnects says so too.
        QCOMPARE(pRig->Count(QStringLiteral("Com connected!")), unplug ? 1 : 2);
        QVERIFY(pRig->Find<QPushButton>("refreshButton")->isEnabled());
        QCOMPARE(Label(), QString());
        QVERIFY(Hidden("settingsGroup") && Hidden("settings2Group"));
        QCOMPARE(pRig->Find<QComboBox>("flightCombo")->count(), 0);

        QVERIFY(pRig->sim.Replug());
        pRig->sim.ClearLog();
        Tick(2);
        Learn(IdentityLine(model.constData()));
        QTRY_COMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1"}));
    }
};

QTEST_MAIN(TestDeviceLink)
#include "test_device_link.moc"
