// Sentences of LX, Cambridge and other instruments turned into records, as the tool's framer sees them.
#include "SentenceFeed.h"
#include "StderrCapture.h"

#include <QtTest>

namespace {

// One record of the parser as text; floats to six significant digits.
QString Dump(const common::ParserNMEA& p, const QByteArray& baRecord) {
    if (baRecord == "lxwp0")
        return QString::asprintf("%g %g %g", p.lxwp0.fAirspeed, p.lxwp0.fAltitude, p.lxwp0.fVario);
    if (baRecord == "c302") {
        const common::C302Data& c = p.c302;
        return QString::asprintf("%u %g %u %g %g %u %g %g %g %g %g %u %u", c.uiWindDirection, c.fWindSpeed,
                                 c.uiWindAge, c.fComponentWind, c.fAltitude, c.uiQnh, c.fTrueAirspeed,
                                 c.fVario, c.fAverager, c.fRelativeVario, c.fMacCready, c.uiBallast,
                                 c.uiBugs);
    }
    if (baRecord == "pcaid")
        return QString::asprintf("%d %g %u %u", p.pcaid.bLogged, p.pcaid.fBaroAltitude, p.pcaid.uiPcaidField6,
                                 p.pcaid.uiPcaidField7);
    if (baRecord == "altitude")
        return QString::asprintf("%g", p.fPressureAltitude);
    if (baRecord == "lxgrb")
        return QString::asprintf("%u", p.byLxgrbFlags);
    if (baRecord == "rates")
        return QString::asprintf("%u %u %u %u", p.abyLxwpRate[0], p.abyLxwpRate[1], p.abyLxwpRate[2],
                                 p.abyLxwpRate[3]);
    if (baRecord == "pflx2")
        return QString::asprintf("%g %g %g %g", p.pflx2.fMacCready, p.pflx2.fBugs, p.pflx2.fBallast,
                                 p.pflx2.fVolume);
    if (baRecord == "rpyl")
        return QString::asprintf("%g %g", p.rpyl.fRoll, p.rpyl.fPitch);
    return "unknown record " + baRecord;
}

} // namespace

class TestLxSentences : public QObject {
    Q_OBJECT

private slots:
    void Sentences_data();
    void Sentences();
};

void TestLxSentences::Sentences_data() {
    const DataTable<QByteArrayList, QByteArray, QString> Row({"aSentences", "baRecord", "sValues"});

    Row("LXWP0 36 km/h", {"$LXWP0,Y,36,1717.6,0.02,0.02,0.02,0.02,0.02,0.02,,000,107.2"}, "lxwp0",
        "10 1717.6 0.02");
    Row("LXWP0 empty", {"$LXWP0,Y,36,100,1", "$LXWP0"}, "lxwp0", "0 0 0");
    // Wind 270 deg 5.5 m/s, component +1, 500 m, TAS 25.1, climb +1/-1/0 kt, MC 2 kt; extra fields ignored.
    Row("C302", {"!w,270,55,2,510,1500,1013,2510,210,190,200,20,100,10,0,0"}, "c302",
        "270 5.5 2 1 500 1013 25.1 0.514444 -0.514444 0 1.02889 100 10");
    // A field that wraps ParseInt to its lowest value must not overflow when the offset is taken off.
    Row("C302 altitude at the edge of 32 bits", {"!w,0,0,0,500,-2147483648,0,0,200,200,200,0,0,0"}, "c302",
        "0 0 0 0 -2.14748e+09 0 0 0 0 0 0 0 0");
    Row("PCAID logged", {"$PCAID,L,-12.7,0,24,,1500,1299"}, "pcaid", "1 -12 1500 12");
    Row("PCAID 4 fields", {"$PCAID,L,1,0,24,,1500,1299", "$PCAID,N,512,0"}, "pcaid", "0 512 0 0");
    Row("PCAID negative field 7 wraps", {"$PCAID,N,0,0,0,0,0,-150"}, "pcaid", "0 0 0 65535");
    Row("PGRMZ feet", {"$PGRMZ,1000,f,3"}, "altitude", "304.8");
    // The flag 4 latches until the first field stops saying "1".
    const QByteArrayList aGrb = {"$LXGRB,1,0", "$LXGRB,1,1", "$LXGRB,1,0",
                                 "$LXGRB,0,0", "$LXGRB,0,1", "$LXGRB,1,0"};
    const char* const kGrbFlags[] = {"1", "5", "5", "0", "4", "4"};
    for (int i = 0; i < aGrb.size(); ++i)
        Row("LXGRB sequence step " + QByteArray::number(i + 1), aGrb.mid(0, i + 1), "lxgrb", kGrbFlags[i]);
    Row("PFLX0 names two rates", {"$PFLX0,LXWP0,2,LXWP2,10,GPRMB,5"}, "rates", "2 60 10 59");
    Row("PFLX0 last name without rate", {"$PFLX0,LXWP3,1,LXWP1"}, "rates", "1 0 5 1");
    Row("PFLX0 24 fields, name last", {"$PFLX0" + QByteArray(",GGA").repeated(20) + ",LXWP2,7,LXWP1"},
        "rates", "1 0 7 59");
    Row("PFLX2", {"$PFLX2,1.5,1.2,10,1.0,0,0,40"}, "pflx2", "1.5 10 1.2 40");
    Row("RPYL", {"$RPYL,125,-40,0,0,0,0,0"}, "rpyl", "12.5 -4");
}

void TestLxSentences::Sentences() {
    QFETCH(QByteArrayList, aSentences);
    QFETCH(QByteArray, baRecord);
    BasicNMEA framer;
    StderrCapture capture;
    // Every one is taken, silently.
    for (const QByteArray& baSentence : aSentences)
        QVERIFY(FeedSentence(framer, baSentence) != 0);
    QCOMPARE(capture.Text(), QByteArray());
    QTEST(Dump(framer.parser, baRecord), "sValues");
}

QTEST_GUILESS_MAIN(TestLxSentences)
#include "test_lx_sentences.moc"
