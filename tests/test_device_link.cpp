// The window against the simulated instrument over a real pseudo-terminal and a real QSerialPort,
// driven through its widgets, the ticks invoked one by one (or by the rig while it waits). The real timer
// runs in test_chaos.
#include "SentenceFeed.h"
#include "testsupport/WindowRig.h"

#include <QComboBox>
#include <QLabel>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

Q_DECLARE_METATYPE(SimIdentity)
Q_DECLARE_METATYPE(SimSettings)

namespace {

// How a session's line runs: replies in pieces, noise and garbled copies under wrong checksums around
// them, "Enable Output" unchecked, a settings sentence of five fields pushed unasked; and how it ends:
// the cable pulled rather than Disconnect pressed.
enum Line { Clean = 0, Split = 1, Noise = 2, Quiet = 4, Push = 8, Unplug = 16 };

QString IdentityLine(const char* pszModel) {
    return QString::asprintf("Device: %s (512), Produced: A7, FW: 1.4.B7, HW: 2.0", pszModel);
}

// Lines go to the instrument's line in batches of this many, each less than a pseudo-terminal hands over
// in one read, so that the pane is looked at after nearly every append.
constexpr int kBatchLines = 300;
// Enough for many cuts: on the way there the pane is looked at below the bound, past the first cut and
// after each one.
constexpr int kLines = 14000;

QString Numbered(int iNumber) {
    return QStringLiteral("line %1").arg(iNumber, 6, 10, QLatin1Char('0'));
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::WindowRig> pRig;

    QString Label() const { return pRig->Find<QLabel>("deviceInfoLabel")->text(); }
    QString Button() const { return pRig->Find<QAbstractButton>("connectButton")->text(); }
    bool Refreshable() const { return pRig->Find("refreshButton")->isEnabled(); }
    QList<QByteArray> Sent() const { return pRig->sim.ReceivedSentences(); }
    // A pane's text with its line breaks as the CR LF they were on the line.
    QByteArray Pane(const char* pszName) const {
        return pRig->Find<QTextEdit>(pszName)->toPlainText().replace(QLatin1Char('\n'), "\r\n").toUtf8();
    }
    bool Hidden(const char* pszGroup) const { return pRig->Find(pszGroup)->isHidden(); }
    // Connect pressed, the port opened on the first tick and the identity asked for on the second and
    // taken; the next tick asks for the settings.
    void Identify(const QString& sLine) {
        pRig->Click("connectButton");
        pRig->Tick(2);
        QTRY_COMPARE(Label(), sLine);
    }

private slots:
    void init() {
        pRig = std::make_unique<testsupport::WindowRig>();
        QVERIFY(pRig->MakeWindow());
    }
    void cleanup() { pRig.reset(); }

    // The system's ports, then the extra ones, each opened by its own path. A window starts on the first
    // extra port; Refresh lists afresh and starts on the first port of all. With no port to choose,
    // Connect stays Connect.
    void extraPortsFollowSystemPorts() {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const QString sMissing = pRig->lineDir.filePath(QStringLiteral("missing"));
        // Empty ones are skipped.
        const QStringList asExtra{QString(), sMissing, QString(), pRig->sim.DevicePath()};
        qputenv("VORNIK_EXTRA_PORTS", asExtra.join(QDir::listSeparator()).toLocal8Bit());
        QVERIFY(!pRig->MakeWindow());
        QComboBox* pCombo = pRig->Find<QComboBox>("portCombo");
        QCOMPARE(pCombo->currentText(), sMissing);
        pCombo->setCurrentIndex(pCombo->count() - 1);
        pRig->Click("refreshButton");
        QCOMPARE(pCombo->currentIndex(), 0);
        QCOMPARE(pCombo->count(), ports.size() + 2);
        for (int i = 0; i < ports.size(); i++)
            QCOMPARE(pCombo->itemText(i), ports[i].portName());
        pCombo->setCurrentIndex(ports.size() + 1);
        Identify(IdentityLine("Tovak_2"));

        pRig->Click("connectButton");
        pCombo->clear();
        pRig->Click("connectButton");
        QVERIFY(pRig->Logged("No COM port to connect!"));
        QVERIFY(Button() == QLatin1String("Connect") && Refreshable());
    }

    // Connect pressed before the instrument is plugged in: the opening is tried again every other tick
    // until the port opens; nothing goes out at the opening tick, and from the next tick on, every tick
    // asks a silent instrument again. Disconnect before the opening tick cancels the opening: anything
    // sent while idle would stand before the next connection's request.
    void openingRetriedUntilPlugged() {
        pRig->sim.Unplug();
        pRig->sim.SetSilent(true);
        pRig->Click("connectButton");
        QVERIFY(Button() == QLatin1String("Disconnect") && !Refreshable());
        pRig->Tick(3);
        QCOMPARE(pRig->Count(QStringLiteral("Com open failed: ")), 2);
        QVERIFY(pRig->sim.Replug());
        pRig->Tick(2);
        for (int i = 1; i <= 3; i++) {
            pRig->Tick();
            QTRY_COMPARE(Sent(), QList<QByteArray>(i, "VNREQ,0"));
        }
        for (int i = 0; i < 3; i++) // Disconnect, Connect, and Disconnect before the opening tick
            pRig->Click("connectButton");
        pRig->sim.ClearLog();
        pRig->Tick(4);
        QCOMPARE(pRig->ReadSoFar(), QList<QByteArray>());
        QCOMPARE(Button(), QStringLiteral("Connect"));
    }

    // A body fills the 1024-byte buffer with "$", checksum and line end at 1017 characters; a longer
    // one is refused whole. The instrument drops such a sentence as too long but counts it. The two
    // requests behind it reach the instrument before it reads, so both answers come back in one read;
    // the settings group shows only if the identity in front of them was taken first.
    void commandLengthLimit_data() {
        const DataTable<int> Row({"length"});
        for (const int iLength : {1017, 1018, 5000})
            Row(QByteArray::number(iLength), iLength);
    }
    void commandLengthLimit() {
        QFETCH(int, length);
        const bool bSent = length <= 1017;
        pRig->Click("connectButton");
        pRig->Tick(); // the port opened: the next tick polls
        const QByteArray baBody = "VNX," + QByteArray(length - 4, 'A');
        QCOMPARE(pRig->pWindow->SendCommand(baBody.constData()), bSent);
        QCOMPARE(Pane("sentText"), bSent ? Framed(baBody) : QByteArray());
        pRig->Tick();
        pRig->Click("saveButton");
        QTRY_VERIFY(!Hidden("settingsGroup"));
        QCOMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1"}));
        QCOMPARE(pRig->sim.BadSentenceCount(), bSent ? 1 : 0);
    }

    // Per model: its identity line on a port set as the instrument's line runs, the group shown with what
    // the instrument stores, values beyond a widget's range as its nearest bound, and what Save sends
    // right behind the poll's requests (the logbook's first row for a model that keeps one). Save sends
    // what is shown or typed, except a protocol the list lacks, which goes back as the instrument
    // reported it. A settings sentence short of the protocol field leaves a Pelko_2's group as it was.
    // Whatever the line does, replies are taken whole and once, and the panes show the traffic while
    // "Enable Output" is checked. When the link ends, everything learnt is forgotten, and the next
    // connection starts from the identity.
    void session_data() {
        // shown: in the group's order; typed: empty when saved as shown.
        const DataTable<SimIdentity, SimSettings, QString, QString, QString, QString, QByteArray, int> Row(
            {"identity", "stored", "line", "group", "shown", "typed", "saved", "how"});
        Row("Tovak_2, in pieces", {}, {}, IdentityLine("Tovak_2"), "settingsGroup", "80,1.5,50,-1,0,1",
            "80,10.0,50,-1,123456,4", "VNSET2,80,10.0,50,4294967295,123456,4", Split);
        Row("Ulmar, largest serial, below the bounds, unknown protocol, noise, cable pulled",
            {"Ulmar", "P17", 4294967295u, 1, 4, 7, "3"}, {-128, 2, 0, -1, 0, 7},
            "Device: Ulmar (4294967295), Produced: P17, FW: 1.4.B7, HW: 3.0", "settingsGroup",
            "-10,0.5,0,-1,0,-1", "", "VNSET2,-10,0.5,0,4294967295,0,7", Noise | Unplug);
        Row("Ulmar variant, above the bounds, output off", {"Ulmar_XL"}, {127, 100, 100, 24, 3000000000u, 4},
            IdentityLine("Ulmar_XL"), "settingsGroup", "120,10,100,24,999999,4", "",
            "VNSET2,120,10.0,100,24,999999,4", Quiet);
        Row("Pelko_2, five fields pushed", {"Pelko_2"}, {80, 15, 50, 3, 4711, 3}, IdentityLine("Pelko_2"),
            "settings2Group", "4711,3", "654321,1", "VNSET2,654321,1", Push);
        Row("Pelko_2, above the bounds", {"Pelko_2"}, {80, 15, 50, 3, 3000000000u, 4},
            IdentityLine("Pelko_2"), "settings2Group", "999999,-1", "", "VNSET2,999999,4", Clean);
        // The instrument's texts are shown as the characters it sent, never as markup.
        Row("unknown model, markup and UTF-8", {"<b>T\xc3\xb6vak</b>", "<i>x</i>", 0, 1, 4, 7, ""}, {},
            QString::fromUtf8("Device: <b>T\xc3\xb6vak</b> (0), Produced: <i>x</i>, FW: 1.4.B7, HW: 0.0"), "",
            "80,1.5,50,-1,0,1", "", "", Clean);
    }
    void session() {
        QFETCH(SimIdentity, identity);
        QFETCH(SimSettings, stored);
        QFETCH(QString, line);
        QFETCH(QString, group);
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QByteArray, saved);
        QFETCH(int, how);
        const bool bSecond = group == QLatin1String("settings2Group");
        pRig->sim.SetIdentity(identity);
        pRig->sim.SetSettings(stored);
        pRig->sim.SetSplitWrites(how & Split ? 7 : 1, 5);
        pRig->sim.SetNoise(how & Noise);
        pRig->sim.SetBadChecksums(how & Noise);
        pRig->Find<QAbstractButton>("enableOutputCheck")->setChecked(!(how & Quiet));
        Identify(line);
        QCOMPARE(pRig->Find<QLabel>("deviceInfoLabel")->textFormat(), Qt::PlainText);
        QCOMPARE(pRig->sim.LineSettings(), QStringLiteral("115200 8N1, no flow control"));
        pRig->Tick();
        QTRY_COMPARE(pRig->Shown(bSecond), shown);
        for (const char* pszGroup : {"settingsGroup", "settings2Group"})
            QCOMPARE(Hidden(pszGroup), group != QLatin1String(pszGroup));
        if (how & Push) {
            pRig->sim.SendTraffic(Framed("VNSET2,33,2.0,40,1,8"));
            // The first group takes every settings sentence: its TE level tells this one was read.
            QTRY_COMPARE(pRig->Shown().section(QLatin1Char(','), 0, 0), QStringLiteral("33"));
            QCOMPARE(pRig->Shown(bSecond), shown);
        }
        pRig->Tick(2);
        pRig->Type(typed, bSecond);
        pRig->Click(bSecond ? "save2Button" : "saveButton");
        // Changed behind Save's back: the answer, which must be in before the link ends, puts it right.
        pRig->Type(QStringLiteral("7"));
        QList<QByteArray> expected{"VNREQ,0", "VNREQ,1", "VNREQ,40,0", saved, "VNREQ,1"};
        if (group != QLatin1String("settingsGroup"))
            expected.removeOne("VNREQ,40,0"); // a model without a logbook
        expected.removeAll(QByteArray());
        QTRY_COMPARE(Sent(), expected);
        // What the instrument reports; a garbled copy travels in the same write as its sentence, so it
        // has been read by now.
        QTRY_COMPARE(pRig->Shown(), pRig->Stored());
        QCOMPARE(Label(), line);
        QCOMPARE(Pane("sentText").count("\r\n"), how & Quiet ? 0 : expected.size());
        QCOMPARE(Pane("receivedText").contains("$VNINFO2," + identity.baModel + ','), !(how & Quiet));

        pRig->Find<QComboBox>("flightCombo")->addItem(QStringLiteral("flight"));
        if (how & Unplug)
            pRig->sim.Unplug();
        else
            pRig->Click("connectButton");
        QTRY_COMPARE(Button(), QStringLiteral("Connect"));
        QCOMPARE(pRig->Count(QStringLiteral("Com port lost: ")), how & Unplug ? 1 : 0);
        QVERIFY(Refreshable() && Label().isEmpty() && Hidden("settingsGroup") && Hidden("settings2Group"));
        QCOMPARE(pRig->Find<QComboBox>("flightCombo")->count(), 0);
        QVERIFY(pRig->sim.Replug());
        pRig->sim.ClearLog();
        Identify(line);
        pRig->Tick();
        QTRY_COMPARE(Sent(), (QList<QByteArray>{"VNREQ,0", "VNREQ,1"}));
    }

    // The received-text pane under long traffic: after every read it holds at least its last 5000 lines
    // (the one still being written, here the empty one behind the last line end, included), whole and in
    // order, and no more than a cut's worth beyond them; it keeps no undo history, and it still shows the
    // newest line.
    void receivedPaneKeepsTheLastLines() {
        QVERIFY(pRig->Connect());
        // The poll falls silent once the settings and the empty logbook are in.
        QVERIFY(pRig->Until([this] { return pRig->sim.RequestCount("VNREQ,40,0") == 1; }));
        pRig->RunFor(300);
        pRig->Click("clearButton");
        QTextEdit* pPane = pRig->Find<QTextEdit>("receivedText");
        const QTextDocument* pDocument = pPane->document();
        QVERIFY(!pPane->isUndoRedoEnabled());

        for (int iSent = 0; iSent < kLines;) {
            QByteArray baBatch;
            for (const int iEnd = qMin(kLines, iSent + kBatchLines); iSent < iEnd;)
                baBatch += Numbered(++iSent).toLatin1() + "\r\n";
            pRig->sim.SendTraffic(baBatch);
            QVERIFY(pRig->Until([&] { return pDocument->lastBlock().previous().text() == Numbered(iSent); }));
            const int iBlocks = pDocument->blockCount();
            QVERIFY2(iBlocks >= qMin(iSent + 1, 5000) && iBlocks < 6000,
                     qPrintable(QString("%1 lines after %2").arg(iBlocks).arg(iSent)));
        }

        // Every line ends in CR LF, so the last block is the empty one behind the newest line; the ones
        // before it are the newest lines back to the first kept.
        int iNumber = kLines;
        for (QTextBlock block = pDocument->lastBlock(); (block = block.previous()).isValid();)
            QCOMPARE(block.text(), Numbered(iNumber--));
        const QTextCursor newest(pDocument->lastBlock().previous());
        QVERIFY(pPane->viewport()->rect().contains(pPane->cursorRect(newest)));
    }
};

QTEST_MAIN(TestDeviceLink)
#include "test_device_link.moc"
