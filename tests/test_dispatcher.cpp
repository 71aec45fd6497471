// Which identifier reaches which handler, the field counts that handlers take, the debug trace, and the
// parse time stamp.
#include "SentenceFeed.h"
#include "StderrCapture.h"
#include "common/TimeOfDay.h"

#include <QtTest>

using namespace common;

namespace {

// Every identifier text with the field counts that its handler takes (iMax 0: any count) and the name in
// its refusal message (none: refused silently). GSV (iMin 0) is taken only as message 1 of 1.
struct Handler {
    const char* pszId;
    int iMin;
    int iMax;
    uint uiCode;
    const char* pszName;
};
// clang-format off
const Handler kHandlers[] = {
    {"GPRMC", 12, 13, CodeRmc, nullptr}, {"GNRMC", 12, 13, CodeRmc, nullptr}, {"GPGGA", 15, 16, CodeGga, "GGA"},
    {"GNGGA", 15, 16, CodeGga, "GGA"},   {"GPGSA", 18, 18, CodeGsa, "GSA"},   {"GNGSA", 18, 18, CodeGsa, "GSA"},
    {"GPGSV", 0, 0, CodeGsv, nullptr},   {"GLGSV", 0, 0, CodeGsv, nullptr},   {"GAGSV", 0, 0, CodeGsv, nullptr},
    {"GNGNS", 13, 13, CodeGns, "GNS"},   {"GPGNS", 13, 13, CodeGns, "GNS"},   {"GLGNS", 13, 13, CodeGns, "GNS"},
    {"GBGNS", 13, 13, CodeGns, "GNS"},   {"PFLAU", 1, 0, CodePflau, nullptr},   {"PFLAA", 12, 12, CodePflaa, "PFLAA"},
    {"PFLAC", 1, 0, CodePflac, nullptr},   {"PFLAE", 1, 0, CodePflae, nullptr},   {"PFLAL", 1, 0, CodePflal, nullptr},
    {"PFLAQ", 1, 0, CodePflaq, nullptr},  {"LXWP0", 1, 0, CodeLxwp0, nullptr},  {"w", 13, 24, CodeC302, "!W - C302"},
    {"PCAID", 4, 24, CodePcaid, "PCAID"}, {"PGRMZ", 4, 24, CodePgrmz, "PGRMZ"}, {"PNRMZ", 4, 24, CodePgrmz, "PGRMZ"},
    {"LXGRB", 1, 0, CodeLxgrb, nullptr},  {"PFLX0", 1, 0, CodePflx0, nullptr},  {"PFLX2", 1, 0, CodePflx2, nullptr},
    {"RPYL", 1, 0, CodeRpyl, nullptr},   {"LXDT", 1, 0, CodeLxdt, nullptr},   {"VNDT", 1, 0, CodeLxdt, nullptr},
    {"VNREQ", 1, 0, CodeRequest, nullptr},  {"VNINFO2", 1, 0, CodeInfo, nullptr}, {"VNSET2", 1, 0, CodeSettings, nullptr},
    {"VNLOGBOOK", 1, 0, CodeLogbook, nullptr},
};
// clang-format on

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void Codes_data();
    void Codes();
    void DebugTrace();
    void StampsParseTime();
};

void TestDispatcher::Codes_data() {
    // The message of a sentence not taken, or nothing.
    const DataTable<QByteArray, uint, QByteArray> Row({"baText", "uiCode", "baMessage"});

    for (const Handler& handler : kHandlers) {
        // A row compares all of its characters and no more: the text with a character added still
        // matches, the text one character short does not.
        const QByteArray baFields = handler.iMin == 0 ? ",1,1,00" : QByteArray(handler.iMin - 1, ',');
        const QByteArray baId(handler.pszId);
        Row(baId + "X", baId + "X" + baFields, handler.uiCode, "");
        Row(baId + " cut short", baId.chopped(1) + baFields, CodeNone, "");
        // Every field count from one below the range to one above it; the framer passes on at most 24.
        for (int iFields = handler.iMin - 1; handler.iMax != 0 && iFields <= qMin(handler.iMax + 1, 24);
             ++iFields) {
            const bool bTaken = iFields >= handler.iMin && iFields <= handler.iMax;
            QByteArray baMessage;
            if (!bTaken && handler.pszName != nullptr)
                baMessage = handler.pszName + QByteArray(" invalid field count ") +
                            QByteArray::number(iFields) + ".\n";
            Row(baId + " with " + QByteArray::number(iFields) + " fields",
                baId + QByteArray(iFields - 1, ','), bTaken ? handler.uiCode : uint(CodeNone), baMessage);
        }
    }
    Row("bang start", "!VNREQ,0", CodeRequest, "");
    Row("case matters: vnreq", "vnreq,0", CodeNone, "");
    Row("empty sentence", "", CodeNone, "");
}

void TestDispatcher::Codes() {
    QFETCH(QByteArray, baText);
    QFETCH(uint, uiCode);
    BasicNMEA framer;
    StderrCapture capture;
    QCOMPARE(FeedSentence(framer, baText), uiCode);
    // A sentence that is not taken says why, or nothing.
    if (uiCode == 0)
        QTEST(capture.Text(), "baMessage");
}

void TestDispatcher::DebugTrace() {
    BasicNMEA framer;
    framer.parser.bDebug = true;
    StderrCapture capture;
    QCOMPARE(FeedSentence(framer, "VNREQ,200,,5"), CodeRequest);
    QCOMPARE(capture.Text(), QByteArray("ParseNMEA begin\nFC 4\n0-0 $VNREQ\n1-7 200\n2-11 <0>\n3-12 5\n"));
}

// As if the last sentence had come ten seconds before construction; any sentence, taken or not, stamps
// the time again.
void TestDispatcher::StampsParseTime() {
    BasicNMEA framer;
    QVERIFY(common::TimeOfDayMs() - framer.parser.uiLastSentenceMs - 10000u < 1000u);
    const uint32_t uiBeforeMs = common::TimeOfDayMs();
    QCOMPARE(FeedSentence(framer, "XYZZY"), CodeNone);
    QVERIFY(framer.parser.uiLastSentenceMs - uiBeforeMs < 1000u);
}

QTEST_APPLESS_MAIN(TestDispatcher)
#include "test_dispatcher.moc"
