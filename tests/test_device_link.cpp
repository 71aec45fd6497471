// The window against the simulated instrument over a real pseudo-terminal and a real QSerialPort,
// driven through its widgets, the ticks invoked one by one. The real timer runs in test_chaos.
#include "SentenceFeed.h"
#include "SimWindowRig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QTextEdit>

Q_DECLARE_METATYPE(SimIdentity)
Q_DECLARE_METATYPE(SimSettings)

namespace {

// A command framed with "$", checksum and CR LF, as the sent pane shows it: the pane turns CR LF into
// one line break. The checksum is computed here independently.
QString PaneLine(const QByteArray& baBody) {
    uint8_t bySum = 0;
    for (const char c : baBody)
        bySum ^= static_cast<uint8_t>(c);
    return QStringLiteral("$%1*%2\n").arg(QString::fromLatin1(baBody), QString::asprintf("%02X", bySum));
}

QString IdentityLine(const char* pszModel) {
    return QString::asprintf("Device: %s (512), Produced: A7, FW: 1.4.B7, HW: 2.0", pszModel);
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<SimWindowRig> pRig;

    QString Label() const { return pRig->Find<QLabel>("deviceInfoLabel")->text(); }
    QString Button() const { return pRig->Find<QPushButton>("connectButton")->text(); }
    QList<QByteArray> Sent() const { return pRig->sim.ReceivedSentences(); }
    QString Pane(const char* pszName) const { return pRig->Find<QTextEdit>(pszName)->toPlainText(); }
    bool Hidden(const char* pszGroup) const { return pRig->Find<QGroupBox>(pszGroup)->isHidden(); }
    void Press(const char* pszButton) { pRig->Find<QPushButton>(pszButton)->click(); }
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

private slots:
    void init() {
        pRig = std::make_unique<SimWindowRig>();
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
    }

    void connectWithoutPortDoesNothing() {
        pRig->Find<QComboBox>("portCombo")->clear();
        Press("connectButton");
        QVERIFY(pRig->Logged("No COM port to connect!"));
        QCOMPARE(Button(), QStringLiteral("Connect"));
        QVERIFY(pRig->Find<QPushButton>("refreshButton")->isEnabled());
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
        QTest::newRow("1017") << 1017;
        QTest::newRow("1018") << 1018;
        QTest::newRow("5000") << 5000;
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
            QTest::qWait(100);
            QCOMPARE(Sent(), QList<QByteArray>());
            QCOMPARE(Button(), QStringLiteral("Connect"));
            Open();
            Tick();
            QTRY_COMPARE(Sent(), QList<QByteArray>{"VNREQ,0"});
        }
        QCOMPARE(pRig->Count(QStringLiteral("Com open failed: ")), 3);
    }

    // Per model: its identity line, the group shown, whether the logbook is asked for, and what Save
    // sends. The second group is set to 654321 and "Graupner HoTT" (3) before every Save.
    void modelSession_data() {
        QTest::addColumn<SimIdentity>("identity");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("settingsSent");
        QTest::newRow("Tovak_2") << SimIdentity{} << IdentityLine("Tovak_2") << "settingsGroup"
                                 << "80,10.0,50,-1,123456,4"
                                 << QByteArray("VNSET2,80,10.0,50,4294967295,123456,4");
        QTest::newRow("Ulmar, largest serial")
            << SimIdentity{"Ulmar", "P17", 4294967295u, 1, 4, 7, "3"}
            << "Device: Ulmar (4294967295), Produced: P17, FW: 1.4.B7, HW: 3.0"
            << "settingsGroup"
            << "-10,0.5,0,24,999999,3" << QByteArray("VNSET2,-10,0.5,0,24,999999,3");
        QTest::newRow("Ulmar variant")
            << SimIdentity{"Ulmar_XL"} << IdentityLine("Ulmar_XL") << "settingsGroup"
            << "120,2.5,100,0,0,0" << QByteArray("VNSET2,120,2.5,100,0,0,0");
        QTest::newRow("Pelko_2") << SimIdentity{"Pelko_2"} << IdentityLine("Pelko_2") << "settings2Group"
                                 << "7,3.0,7,7,7,2" << QByteArray("VNSET2,654321,3");
        // The instrument's texts are shown as the characters it sent, never as markup.
        QTest::newRow("unknown model, markup and UTF-8")
            << SimIdentity{"<b>T\xc3\xb6vak</b>", "<i>x</i>", 0, 1, 4, 7, ""}
            << QString::fromUtf8("Device: <b>T\xc3\xb6vak</b> (0), Produced: <i>x</i>, FW: 1.4.B7, HW: 0.0")
            << QString() << "7,3.0,7,7,7,2" << QByteArray();
    }
    void modelSession() {
        QFETCH(SimIdentity, identity);
        QFETCH(QString, line);
        QFETCH(QString, group);
        QFETCH(QString, typed);
        QFETCH(QByteArray, settingsSent);
        pRig->sim.SetIdentity(identity);
        Learn(line);
        QCOMPARE(pRig->Find<QLabel>("deviceInfoLabel")->textFormat(), Qt::PlainText);
        for (const char* pszGroup : {"settingsGroup", "settings2Group"})
            QCOMPARE(Hidden(pszGroup), group != QLatin1String(pszGroup));
        Tick(2);

        pRig->Type(typed);
        pRig->Find<QSpinBox>("pairKey2Spin")->setValue(654321);
        pRig->Find<QComboBox>("telemetry2Combo")->setCurrentIndex(3);
        Press(group == QLatin1String("settings2Group") ? "save2Button" : "saveButton");
        // Save stands right behind the poll's requests: nothing else went out in between.
        QList<QByteArray> expected{"VNREQ,0", "VNREQ,1"};
        if (group == QLatin1String("settingsGroup"))
            expected << "VNREQ,40,0";
        if (!settingsSent.isEmpty())
            expected << settingsSent;
        expected << "VNREQ,1";
        QTRY_COMPARE(Sent(), expected);
        // What the instrument reports, not what was typed: those sent no settings get theirs back.
        QTRY_COMPARE(pRig->Shown(), pRig->Stored());
    }

    // The group of the model shows what the instrument reports, values beyond a widget's range as its
    // nearest bound; Save then sends what is shown, except a protocol the list lacks, which goes back as
    // the instrument reported it. A Pelko_2's group is in its own order: pair key, protocol. A settings
    // sentence short of the protocol field, sent unasked, leaves that group as it was.
    void settingsShown_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<SimSettings>("stored");
        QTest::addColumn<QByteArray>("pushed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("above") << QByteArray("Tovak_2") << SimSettings{127, 100, 100, 24, 3000000000u, 4}
                               << QByteArray() << "120,10.0,100,24,999999,4"
                               << QByteArray("VNSET2,120,10.0,100,24,999999,4");
        QTest::newRow("below") << QByteArray("Tovak_2") << SimSettings{-128, 2, 0, -1, 0, 0} << QByteArray()
                               << "-10,0.5,0,-1,0,0" << QByteArray("VNSET2,-10,0.5,0,4294967295,0,0");
        QTest::newRow("unknown protocol")
            << QByteArray("Tovak_2") << SimSettings{80, 15, 50, 3, 17, 7} << QByteArray()
            << "80,1.5,50,3,17,-1" << QByteArray("VNSET2,80,1.5,50,3,17,7");
        QTest::newRow("Pelko_2") << QByteArray("Pelko_2") << SimSettings{80, 15, 50, 3, 4711, 3}
                                 << QByteArray() << "4711,3" << QByteArray("VNSET2,4711,3");
        QTest::newRow("Pelko_2, above") << QByteArray("Pelko_2") << SimSettings{80, 15, 50, 3, 3000000000u, 4}
                                        << QByteArray() << "999999,-1" << QByteArray("VNSET2,999999,4");
        QTest::newRow("Pelko_2, five fields")
            << QByteArray("Pelko_2") << SimSettings{80, 15, 50, 3, 4711, 2}
            << QByteArray("VNSET2,33,2.0,40,1,8") << "4711,2" << QByteArray("VNSET2,4711,2");
    }
    void settingsShown() {
        QFETCH(QByteArray, model);
        QFETCH(SimSettings, stored);
        QFETCH(QByteArray, pushed);
        QFETCH(QString, shown);
        QFETCH(QByteArray, saved);
        const bool bPelko = model == "Pelko_2";
        const auto Shown = [&] {
            return bPelko ? QStringLiteral("%1,%2")
                                .arg(pRig->Find<QSpinBox>("pairKey2Spin")->value())
                                .arg(pRig->Find<QComboBox>("telemetry2Combo")->currentIndex())
                          : pRig->Shown();
        };
        pRig->sim.SetIdentity({model});
        pRig->sim.SetSettings(stored);
        Open();
        Tick();
        QTRY_COMPARE(Label(), IdentityLine(model.constData()));
        Tick();
        QTRY_COMPARE(Shown(), shown);
        if (!pushed.isEmpty()) {
            pRig->sim.SendTraffic(Framed(pushed));
            // The first group takes every settings sentence: its TE level tells this one was read.
            QTRY_COMPARE(pRig->Find<QSpinBox>("teLevelSpin")->value(), pushed.split(',')[1].toInt());
            QCOMPARE(Shown(), shown);
        }
        Press(bPelko ? "save2Button" : "saveButton");
        QTRY_COMPARE(pRig->sim.RequestCount("VNREQ,1"), 2);
        QCOMPARE(Sent().mid(1, 2), (QList<QByteArray>{"VNREQ,1", saved}));
    }

    // Replies in pieces, with noise and garbled copies under wrong checksums around them, are taken
    // whole and only once; the panes show the traffic while "Enable Output" is checked.
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
