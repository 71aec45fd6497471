// Sentences of LX, Cambridge and other instruments turned into records, as the tool's framer sees them.
#include "StderrCapture.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstdarg>

namespace {

// Feeds each sentence (start character included) with a valid checksum; returns the last one's code.
common::SentenceCode FeedAll(BasicNMEA& framer, const QByteArrayList& aSentences) {
    common::SentenceCode uiCode = 0;
    for (const QByteArray& baSentence : aSentences) {
        char acBuf[256];
        snprintf(acBuf, sizeof acBuf, "%s", baSentence.constData());
        AppendChecksum(acBuf);
        uiCode = 0;
        for (const char* pc = acBuf; *pc != '\0'; ++pc) {
            framer.ProcessByte(static_cast<uint8_t>(*pc));
            uiCode |= framer.uiLastCode;
        }
    }
    return uiCode;
}

QByteArray Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
QByteArray Format(const char* pszFormat, ...) {
    char acText[256];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(acText, sizeof acText, pszFormat, args);
    va_end(args);
    return acText;
}

// One record of the parser as text; floats to six significant digits.
QByteArray Dump(const common::ParserNMEA& p, const QByteArray& baRecord) {
    if (baRecord == "lxwp0")
        return Format("%g %g %g", p.lxwp0.fAirspeed, p.lxwp0.fAltitude, p.lxwp0.fVario);
    if (baRecord == "c302") {
        const common::C302Data& c = p.c302;
        return Format("%u %g %u %g %g %u %g %g %g %g %g %u %u", c.uiWindDirection, c.fWindSpeed, c.uiWindAge,
                      c.fComponentWind, c.fAltitude, c.uiQnh, c.fTrueAirspeed, c.fVario, c.fAverager,
                      c.fRelativeVario, c.fMacCready, c.uiBallast, c.uiBugs);
    }
    if (baRecord == "pcaid")
        return Format("%d %g %u %u", p.pcaid.bLogged, p.pcaid.fBaroAltitude, p.pcaid.uiPcaidField6,
                      p.pcaid.uiPcaidField7);
    if (baRecord == "altitude")
        return Format("%g", p.fPressureAltitude);
    if (baRecord == "lxgrb")
        return Format("%u", p.byLxgrbFlags);
    if (baRecord == "rates")
        return Format("%u %u %u %u", p.abyLxwpRate[0], p.abyLxwpRate[1], p.abyLxwpRate[2], p.abyLxwpRate[3]);
    if (baRecord == "pflx2")
        return Format("%g %g %g %g", p.pflx2.fMacCready, p.pflx2.fBugs, p.pflx2.fBallast, p.pflx2.fVolume);
    if (baRecord == "rpyl")
        return Format("%g %g", p.rpyl.fRoll, p.rpyl.fPitch);
    return "unknown record " + baRecord;
}

// The most fields the framer lets through: the identifier, fillers, then the tail fields last.
QByteArray Fields24(const QByteArray& baId, const QByteArray& baFiller, const QByteArrayList& aTail = {}) {
    QByteArray baSentence = baId;
    for (int i = 1; i < 24 - aTail.size(); ++i)
        baSentence += "," + baFiller;
    for (const QByteArray& baField : aTail)
        baSentence += "," + baField;
    return baSentence;
}

} // namespace

class TestLxSentences : public QObject {
    Q_OBJECT

private slots:
    void Sentences_data();
    void Sentences();
};

void TestLxSentences::Sentences_data() {
    QTest::addColumn<QByteArrayList>("aSentences");
    QTest::addColumn<uint>("uiCode");
    QTest::addColumn<QByteArray>("baRecord");
    QTest::addColumn<QByteArray>("baValues");
    QTest::addColumn<QByteArray>("baStderr");

    QTest::newRow("LXWP0 36 km/h")
        << QByteArrayList{"$LXWP0,Y,36,1717.6,0.02,0.02,0.02,0.02,0.02,0.02,,000,107.2"} << 14u
        << QByteArray("lxwp0") << QByteArray("10 1717.6 0.02") << QByteArray();
    QTest::newRow("LXWP0 empty") << QByteArrayList{"$LXWP0,Y,36,100,1", "$LXWP0"} << 14u
                                 << QByteArray("lxwp0") << QByteArray("0 0 0") << QByteArray();
    QTest::newRow("LXWP0 24 fields") << QByteArrayList{Fields24("$LXWP0", "7.2")} << 14u
                                     << QByteArray("lxwp0") << QByteArray("2 7.2 7.2") << QByteArray();

    // Wind 270 deg 5.5 m/s, component +1, 500 m, TAS 25.1, climb +1/-1/0 kt, MC 2 kt; extra fields ignored.
    QTest::newRow("C302") << QByteArrayList{"!w,270,55,2,510,1500,1013,2510,210,190,200,20,100,10,0,0"} << 15u
                          << QByteArray("c302")
                          << QByteArray("270 5.5 2 1 500 1013 25.1 0.514444 -0.514444 0 1.02889 100 10")
                          << QByteArray();
    QTest::newRow("C302 13 fields, no bugs")
        << QByteArrayList{"!w,90,0,0,500,1000,1013,0,200,200,200,0,0"} << 15u << QByteArray("c302")
        << QByteArray("90 0 0 0 0 1013 0 0 0 0 0 0 0") << QByteArray();
    QTest::newRow("C302 identifier wXYZ")
        << QByteArrayList{"!wXYZ,1,0,0,500,1000,0,0,200,200,200,0,0,7"} << 15u << QByteArray("c302")
        << QByteArray("1 0 0 0 0 0 0 0 0 0 0 0 7") << QByteArray();
    QTest::newRow("C302 12 fields refused, record kept")
        << QByteArrayList{"!w,270,55,2,510,1500,1013,2510,210,190,200,20,100,10", "!w,1,1,1,1,1,1,1,1,1,1,1"}
        << 0u << QByteArray("c302")
        << QByteArray("270 5.5 2 1 500 1013 25.1 0.514444 -0.514444 0 1.02889 100 10")
        << QByteArray("!W - C302 invalid field count 12.\n");
    QTest::newRow("C302 empty") << QByteArrayList{"!w"} << 0u << QByteArray("c302")
                                << QByteArray("0 0 0 0 0 0 0 0 0 0 0 0 0")
                                << QByteArray("!W - C302 invalid field count 1.\n");
    QTest::newRow("C302 24 fields") << QByteArrayList{Fields24("!w", "1200")} << 15u << QByteArray("c302")
                                    << QByteArray(
                                           "1200 120 1200 70 200 1200 12 51.4444 51.4444 51.4444 61.7333 "
                                           "1200 1200")
                                    << QByteArray();
    // A field that wraps ParseInt to its lowest value must not overflow when the offset is taken off.
    QTest::newRow("C302 altitude at the edge of 32 bits")
        << QByteArrayList{"!w,0,0,0,500,-2147483648,0,0,200,200,200,0,0,0"} << 15u << QByteArray("c302")
        << QByteArray("0 0 0 0 -2.14748e+09 0 0 0 0 0 0 0 0") << QByteArray();

    QTest::newRow("PCAID logged") << QByteArrayList{"$PCAID,L,-12.7,0,24,,1500,1299"} << 16u
                                  << QByteArray("pcaid") << QByteArray("1 -12 1500 12") << QByteArray();
    QTest::newRow("PCAID 4 fields") << QByteArrayList{"$PCAID,L,1,0,24,,1500,1299", "$PCAID,N,512,0"} << 16u
                                    << QByteArray("pcaid") << QByteArray("0 512 0 0") << QByteArray();
    QTest::newRow("PCAID negative field 7 wraps")
        << QByteArrayList{"$PCAID,N,0,0,0,0,0,-150"} << 16u << QByteArray("pcaid")
        << QByteArray("0 0 0 65535") << QByteArray();
    QTest::newRow("PCAID 3 fields refused")
        << QByteArrayList{"$PCAID,L,512"} << 0u << QByteArray("pcaid") << QByteArray("0 0 0 0")
        << QByteArray("PCAID invalid field count 3.\n");

    QTest::newRow("PGRMZ feet, lower-case unit")
        << QByteArrayList{"$PGRMZ,1000,f,3"} << 17u << QByteArray("altitude") << QByteArray("304.8")
        << QByteArray();
    QTest::newRow("PNRMZ fraction dropped") << QByteArrayList{"$PNRMZ,1000.9,F,2"} << 17u
                                            << QByteArray("altitude") << QByteArray("304.8") << QByteArray();
    QTest::newRow("PGRMZ 3 fields refused")
        << QByteArrayList{"$PGRMZ,1000,F"} << 0u << QByteArray("altitude") << QByteArray("0")
        << QByteArray("PGRMZ invalid field count 3.\n");
    QTest::newRow("PNRMZ empty refused with PGRMZ text")
        << QByteArrayList{"$PNRMZ"} << 0u << QByteArray("altitude") << QByteArray("0")
        << QByteArray("PGRMZ invalid field count 1.\n");

    // The flag 4 latches until the first field stops saying "1".
    const QByteArrayList aGrb = {"$LXGRB,1,0", "$LXGRB,1,1", "$LXGRB,1,0",
                                 "$LXGRB,0,0", "$LXGRB,0,1", "$LXGRB,1,0"};
    const char* const kGrbFlags[] = {"1", "5", "5", "0", "4", "4"};
    for (int i = 0; i < aGrb.size(); ++i)
        QTest::addRow("LXGRB sequence step %d", i + 1)
            << aGrb.mid(0, i + 1) << 18u << QByteArray("lxgrb") << QByteArray(kGrbFlags[i]) << QByteArray();
    QTest::newRow("LXGRB empty") << QByteArrayList{"$LXGRB,1,1", "$LXGRB"} << 18u << QByteArray("lxgrb")
                                 << QByteArray("0") << QByteArray();

    QTest::newRow("PFLX0 names two rates") << QByteArrayList{"$PFLX0,LXWP0,2,LXWP2,10,GPRMB,5"} << 19u
                                           << QByteArray("rates") << QByteArray("2 60 10 59") << QByteArray();
    QTest::newRow("PFLX0 last name without rate")
        << QByteArrayList{"$PFLX0,LXWP3,1,LXWP1"} << 19u << QByteArray("rates") << QByteArray("1 0 5 1")
        << QByteArray();
    QTest::newRow("PFLX0 empty") << QByteArrayList{"$PFLX0"} << 19u << QByteArray("rates")
                                 << QByteArray("1 60 5 59") << QByteArray();
    QTest::newRow("PFLX0 24 fields, name last")
        << QByteArrayList{Fields24("$PFLX0", "GGA", {"LXWP2", "7", "LXWP1"})} << 19u << QByteArray("rates")
        << QByteArray("1 0 7 59") << QByteArray();

    QTest::newRow("PFLX2 not yet received") << QByteArrayList{"$RPYL,0,0"} << 21u << QByteArray("pflx2")
                                            << QByteArray("-1 -1 -1 -1") << QByteArray();
    QTest::newRow("PFLX2") << QByteArrayList{"$PFLX2,1.5,1.2,10,1.0,0,0,40"} << 20u << QByteArray("pflx2")
                           << QByteArray("1.5 10 1.2 40") << QByteArray();
    QTest::newRow("PFLX2 without volume") << QByteArrayList{"$PFLX2,1.5,,10"} << 20u << QByteArray("pflx2")
                                          << QByteArray("1.5 10 0 0") << QByteArray();

    QTest::newRow("RPYL") << QByteArrayList{"$RPYL,125,-40,0,0,0,0,0"} << 21u << QByteArray("rpyl")
                          << QByteArray("12.5 -4") << QByteArray();
    QTest::newRow("RPYL empty") << QByteArrayList{"$RPYL,125,-40", "$RPYL"} << 21u << QByteArray("rpyl")
                                << QByteArray("0 0") << QByteArray();
}

void TestLxSentences::Sentences() {
    QFETCH(QByteArrayList, aSentences);
    QFETCH(QByteArray, baRecord);
    BasicNMEA framer;
    StderrCapture capture;
    const common::SentenceCode uiCode = FeedAll(framer, aSentences);
    const QByteArray baStderr = capture.Text();
    QTEST(uint(uiCode), "uiCode");
    QTEST(Dump(framer.parser, baRecord), "baValues");
    QTEST(baStderr, "baStderr");
}

QTEST_GUILESS_MAIN(TestLxSentences)
#include "test_lx_sentences.moc"
