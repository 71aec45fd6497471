// Every family of sentences turned into records, as the tool's framer sees them: the instrument's own,
// the receiver's, FLARM's, the LX and Cambridge instruments' and the LX data requests, with short,
// overlong and stale inputs.
#include "SentenceFeed.h"

#include <QtTest>

#include <new>

using namespace common;

namespace {

// GSV message with iCount satellites of the test sky from satellite k = iFirst on; satellite k is at
// elevation k * 7 % 90 and azimuth k * 37 % 360, and every fifth one comes without an SNR.
QByteArray Gsv(const char* pszId, int iTotal, int iMsg, int iInView, int iFirst, int iCount) {
    QByteArray baBody = QString::asprintf("%s,%d,%d,%02d", pszId, iTotal, iMsg, iInView).toLatin1();
    for (int k = iFirst; k < iFirst + iCount; ++k)
        baBody += QString::asprintf(",%02d,%02d,%03d,", k, k * 7 % 90, k * 37 % 360).toLatin1() +
                  (k % 5 == 0 ? QByteArray() : QByteArray::number(k % 50));
    return baBody;
}

// The slots that satellites iFirst on of the test sky fill, as the record text shows them.
QByteArray Sky(int iFirst, int iCount) {
    QByteArrayList aSlots;
    for (int k = iFirst; k < iFirst + iCount; ++k)
        aSlots << QString::asprintf("%d/%d/%d/%d", k, k * 7 % 90, k * 37 % 360, k % 5 == 0 ? 0 : k % 50)
                      .toLatin1();
    return aSlots.join(' ');
}

// Records that hold values before a row's sentence, so that a value kept, cut or padded shows.
const QByteArrayList kDevice{"VNINFO2,XXXXXXXXXXXXXXXXXXXX,YYYYYYYYYYYYYYYYYY,9,9,9,9,9",
                             "VNSET2,99,9.5,99,99,99,99", "VNREQ,9,1,2,3,4,5,6,7,8,9,10"};
const QByteArrayList kFix{"GPRMC,101010,A,5000.000,N,00800.000,E,5,90,010124,,",
                          "GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,",
                          "GPGNS,092750.000,5321.6802,N,00630.3372,W,AA,8,1.03,61.7,55.2,,",
                          "GPGSA,M,2,01,02,03,04,05,06,07,08,09,10,11,12,9.9,8.8,7.7"};
const QByteArrayList kFlarm{"PFLAU,1,1,1,1,1,1,1,1,1,1",
                            "PFLAA,3,10,20,30,0,ABCDEF,90,1,2,3,9",
                            "PFLAC,A,HWVER,HW-9999",
                            "PFLAC,A,SWVER,SW-9999",
                            "PFLAC,A,SER,SER-999999",
                            "PFLAC,A,PRIV,3",
                            "PFLAC,A,OBSTDB,1,2,OBSTACLES-0123456789,DB-0123456",
                            "PFLAC,A,OBSTEXP,EXPIRES-99",
                            "PFLAC,A,FREQ,33",
                            "PFLAC,A,RADIOID,2,ID-999",
                            "PFLAE,A,1,AB,An earlier error with a long message",
                            "PFLAL,An earlier log line that is long",
                            "PFLAQ,OPERATIONS,An earlier long info text,99"};
const QByteArrayList kLongPilot{"$LXDT,SET,PILOT,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJKLMNOPQRST"};

} // namespace

class TestSentences : public QObject {
    Q_OBJECT

private slots:
    void Records_data();
    void Records();
};

void TestSentences::Records_data() {
    // The sentence's message, and the record of its identifier's code as text. Every sentence is taken
    // unless its message calls it invalid, and a refused one leaves its record as it was.
    const DataTable<QByteArrayList, QByteArray, QByteArray, QByteArray> Row(
        {"aPreamble", "baSentence", "baMessage", "baRecord"});

    Row("identity", kDevice, "VNINFO2,Tovak_2,P17,1234,1,7,12,1.5", "", "'Tovak_2' 'P17' 1234 1 7 12 1.5 1");
    Row("identity texts of 16 characters keep 15", kDevice, "VNINFO2,Tovak_2_ABCDEFGHI,0123456789ABCDEF,1",
        "", "'Tovak_2_ABCDEFG' '0123456789ABCDE' 1 0 0 0 0 1");
    Row("settings", kDevice, "VNSET2,-5,1.5,30,-1,123456,2", "", "-5 1.5 30 -1 123456 2 1");
    Row("settings of two fields", kDevice, "VNSET2,7", "", "7 0 0 0 0 0 1");
    // The argument after the last one sent reads as 0; those beyond keep their values.
    Row("chunk request", kDevice, "VNREQ,201,5", "", "201 | 5 0 3 4 5 6 7 8 9 10");
    Row("request without arguments", kDevice, "VNREQ", "", "0 | 1 2 3 4 5 6 7 8 9 10");
    Row("arguments beyond ten dropped", kDevice, "VNREQ,50,11,12,13,14,15,16,17,18,19,20,21,22,23", "",
        "50 | 11 12 13 14 15 16 17 18 19 20");
    Row("logbook row, count in 16 bits", {}, "VNLOGBOOK,70000,2,1,1954763110,77777,300", "",
        "4464 2 1 1954763110 77777 300");
    Row("logbook count only", {"VNLOGBOOK,70000,2,1,1954763110,77,300"}, "VNLOGBOOK,3", "", "3 0 0 0 0 0");

    Row("RMC fix", kFix, "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", "",
        "45319 1 48.1173 11.5167 11.5236 84.4 2485960");
    Row("RMC 13 fields, lower-case hemispheres", kFix,
        "GNRMC,001031.50,A,3751.65,s,14507.36,w,10,,050320,,,A", "",
        "631.5 1 -37.8608 -145.123 5.14444 0 2458914");
    Row("RMC time and date one digit short", kFix, "GPRMC,12345,a,,,,,,,05032,,", "", "0 0 0 0 0 0 0");
    Row("RMC seven-digit date", kFix, "GPRMC,235959,A,,,,,,,0503201,,", "", "86399 1 0 0 0 0 0");
    Row("GGA differential fix", kFix, "GNGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,1.5,0136",
        "", "45319 48.1173 11.5167 2 8 0.9 545.4 46.9 1.5 136");
    Row("GGA without position keeps the last", kFix, "GPGGA,1234,,,,,0,00,99.99,,,,,,", "",
        "45240 53.3613 -6.50562 0 0 99.99 0 0 0 0");
    Row("GGA 14 fields", kFix, "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,",
        "GGA invalid field count 14.\n", "34070 53.3613 -6.50562 1 8 1.03 61.7 55.2 0 0");
    Row("GNS mode letters", kFix, "GNGNS,014035.00,4332.69262,S,17235.48549,E,RR,13,0.9,25.63,11.24,3.0,", "",
        "6035 -43.5449 172.591 0 13 0.9 25.63 3 0 0");
    Row("GNS without position stores zero", kFix, "GLGNS,120000,,,,,NN,00,,,,,", "",
        "43200 0 0 0 0 0 0 0 0 0");
    Row("GSA 3D fix", kFix, "GNGSA,A,3,21,22,23,24,25,26,27,28,29,30,31,32,1.72,1.03,1.38", "",
        "A 3 | 21 22 23 24 25 26 27 28 29 30 31 32 | 1.72 1.03 1.38");

    // The satellite tables: GPS | GLONASS | Galileo.
    const QByteArrayList aTwelve{Gsv("GPGSV", 3, 1, 12, 21, 4), Gsv("GPGSV", 3, 2, 12, 25, 4),
                                 Gsv("GPGSV", 3, 3, 12, 29, 4)};
    const QByteArray baNoSky = "0 0: | 0 0: | 0 0:";
    Row("shorter cycle clears the rest",
        aTwelve + QByteArrayList{Gsv("GPGSV", 3, 1, 11, 1, 4), Gsv("GPGSV", 3, 2, 11, 5, 4)},
        Gsv("GPGSV", 3, 3, 11, 9, 3), "", "11 11: " + Sky(1, 11) + " | 0 0: | 0 0:");
    Row("lost message 1 continues the fill",
        {Gsv("GPGSV", 2, 1, 8, 1, 4), Gsv("GPGSV", 2, 2, 8, 5, 4), Gsv("GPGSV", 3, 2, 11, 41, 4)},
        Gsv("GPGSV", 3, 3, 11, 45, 3), "", "11 15: " + Sky(1, 8) + " " + Sky(41, 4) + " | 0 0: | 0 0:");
    // Message 1 never arrives: the fill runs on, held at the table's end and below the 16-bit limit.
    Row("10000 messages without message 1", QByteArrayList(9999, Gsv("GPGSV", 9, 2, 36, 1, 4)),
        Gsv("GPGSV", 9, 2, 36, 1, 4), "",
        "36 32767: " + Sky(1, 4) + " " + Sky(1, 4) + " " + Sky(1, 4) + " | 0 0: | 0 0:");
    Row("no satellites clears the table", aTwelve, "GPGSV,1,1,00", "", baNoSky);
    Row("GLONASS, one message clears the rest", {Gsv("GLGSV", 1, 1, 4, 61, 4)}, Gsv("GLGSV", 1, 1, 3, 65, 3),
        "", "0 0: | 3 3: " + Sky(65, 3) + " | 0 0:");
    Row("Galileo, 24 fields", {}, Gsv("GAGSV", 1, 1, 5, 7, 5), "", "0 0: | 0 0: | 5 5: " + Sky(7, 5));
    Row("message beyond the total", {}, Gsv("GPGSV", 3, 4, 11, 1, 4), "Invalid GSV message: iMsg = 4.\n",
        baNoSky);
    Row("message 0", {}, Gsv("GPGSV", 3, 0, 11, 1, 4), "Invalid GSV message: iMsg = 0.\n", baNoSky);

    Row("PFLAU alarm", kFlarm, "PFLAU,3,1,2,4,5,-30,B,-32,755,DDA85C", "", "3 1 2 4 5 11 -30 -32 755 DDA85C");
    Row("PFLAU empty", kFlarm, "PFLAU", "", "0 0 0 0 0 0 999 0 0 0");
    Row("PFLAA ID with callsign", kFlarm, "PFLAA,0,-1234,1234,220,2,DDA85C!D-KABC,180,-4.5,30,-1.4,1", "",
        "0 2 1 -1234 1234 220 180 DDA85C -4.5 30 -1.4");
    Row("PFLAA without relative east", kFlarm, "PFLAA,1,-500,,100,1,4B1234,,,,,8", "",
        "1 1 20 -500 0 100 0 4B1234 0 0 0");
    // The configuration that kFlarm leaves, with one text replaced.
    const auto Config = [](const char* pszOld, const char* pszNew) {
        return QByteArray("'OBSTACLES-01234567' 'DB-0123456' 'SER-999999' 'SW-999' 'HW-999' 3 33 1 'ID-999' "
                          "'EXPIRES-99'")
            .replace(pszOld, pszNew);
    };
    Row("hardware version cut", kFlarm, "PFLAC,A,HWVER,HW-1.23", "Flarm HW: HW-1.23\n",
        Config("HW-999", "HW-1.2"));
    Row("software version cut", kFlarm, "PFLAC,A,SWVER,7.20beta", "", Config("SW-999", "7.20be"));
    Row("serial cut, longer key word", kFlarm, "PFLAC,A,SERIAL,1234567890123", "",
        Config("SER-999999", "1234567890"));
    Row("obstacle database", kFlarm, "PFLAC,A,OBSTDB,0,1,Switzerland-Alps-2024,2024-12", "",
        Config("OBSTACLES-01234567", "Switzerland-Alps-2").replace("DB-0123456", "2024-12"));
    Row("obstacle expiry", kFlarm, "PFLAC,A,OBSTEXP,2025-12-31", "", Config("EXPIRES-99", "2025-12-31"));
    Row("privacy set request", kFlarm, "PFLAC,S,PRIV,1", "Flarm privacy: 1\n",
        Config(" 3 33 1 ", " 1 33 0 "));
    Row("frequency", kFlarm, "PFLAC,A,FREQ,868", "Flarm frequency: 68\n", Config(" 3 33 1 ", " 3 68 1 "));
    Row("radio ID cut", kFlarm, "PFLAC,A,RADIOID,2,DDA85C12", "Flarm RadioID: DDA85C12\n",
        Config("ID-999", "DDA85C"));
    // Before the unit answers, privacy and frequency read -1.
    Row("unknown key", {}, "PFLAC,R,ACFT,8", "", "'' '' '' '' '' -1 -1 0 '' ''");
    const QByteArray ba40m(40, 'm');
    const QByteArray baEarlierError = "1 171 'An earlier error with a long message' 1";
    Row("new error code, message cut", kFlarm, "PFLAE,A,3,1F0042," + ba40m + "mmmmm",
        "PFLAE received\nErr: 66/0x1F0042, Sev: 3, Msg:" + ba40m + "\n", "3 66 '" + ba40m + "' 0");
    Row("severity 0 stores no error", {}, "PFLAE,A,0,11,No error", "PFLAE received\n", "-1 65535 '' 1");
    // The unit repeats an active error: the same code within 30 s is not new. "+ms": the earlier error
    // came this long ago (the holder has dealt with it).
    Row("same error within 30 s", kFlarm + QByteArrayList{"+29000"}, "PFLAE,A,3,AB,new", "PFLAE received\n",
        baEarlierError);
    Row("same error after 30 s", kFlarm + QByteArrayList{"+30001"}, "PFLAE,A,3,AB,new",
        "PFLAE received\nErr: 171/0xAB, Sev: 3, Msg:new\n", "3 171 'new' 0");
    Row("log line cut", kFlarm, "PFLAL," + QByteArray(100, 'L'), "PFLAL received\n",
        "'" + QByteArray(82, 'L') + "'");
    Row("PFLAL empty", kFlarm, "PFLAL", "PFLAL received\n", "''");
    Row("progress only", kFlarm, "PFLAQ,IGCREADOUT,42", "PFLAQ received\n", "'IGCREADOUT' '' 42");
    Row("operation and info cut", kFlarm, "PFLAQ,FW-UPDATE-2,Flight-recorder-update-file,300",
        "PFLAQ received\n", "'FW-UPDATE-' 'Flight-recorder-upda' 44");

    Row("LXWP0 36 km/h", {}, "$LXWP0,Y,36,1717.6,0.02,0.02,0.02,0.02,0.02,0.02,,000,107.2", "",
        "10 1717.6 0.02");
    Row("LXWP0 empty", {"$LXWP0,Y,36,100,1"}, "$LXWP0", "", "0 0 0");
    // Wind 270 deg 5.5 m/s, component +1, 500 m, TAS 25.1, climb +1/-1/0 kt, MC 2 kt; extra fields ignored.
    Row("C302", {}, "!w,270,55,2,510,1500,1013,2510,210,190,200,20,100,10,0,0", "",
        "270 5.5 2 1 500 1013 25.1 0.514444 -0.514444 0 1.02889 100 10");
    // A field that wraps ParseInt to its lowest value must not overflow when the offset is taken off.
    Row("C302 altitude at the edge of 32 bits", {}, "!w,0,0,0,500,-2147483648,0,0,200,200,200,0,0,0", "",
        "0 0 0 0 -2.14748e+09 0 0 0 0 0 0 0 0");
    Row("PCAID logged", {}, "$PCAID,L,-12.7,0,24,,1500,1299", "", "1 -12 1500 12");
    Row("PCAID 4 fields", {"$PCAID,L,1,0,24,,1500,1299"}, "$PCAID,N,512,0", "", "0 512 0 0");
    Row("PCAID negative field 7 wraps", {}, "$PCAID,N,0,0,0,0,0,-150", "", "0 0 0 65535");
    Row("PGRMZ feet", {}, "$PGRMZ,1000,f,3", "", "304.8");
    // The flag 4 latches until the first field stops saying "1".
    const QByteArrayList aGrb = {"$LXGRB,1,0", "$LXGRB,1,1", "$LXGRB,1,0",
                                 "$LXGRB,0,0", "$LXGRB,0,1", "$LXGRB,1,0"};
    const char* const kGrbFlags[] = {"1", "5", "5", "0", "4", "4"};
    for (int i = 0; i < aGrb.size(); ++i)
        Row("LXGRB sequence step " + QByteArray::number(i + 1), aGrb.mid(0, i), aGrb[i], "", kGrbFlags[i]);
    Row("PFLX0 names two rates", {}, "$PFLX0,LXWP0,2,LXWP2,10,GPRMB,5", "", "2 60 10 59");
    Row("PFLX0 last name without rate", {}, "$PFLX0,LXWP3,1,LXWP1", "", "1 0 5 1");
    Row("PFLX2", {}, "$PFLX2,1.5,1.2,10,1.0,0,0,40", "", "1.5 10 1.2 40");
    Row("RPYL", {}, "$RPYL,125,-40,0,0,0,0,0", "", "12.5 -4");

    // Unrecognised requests change only the prefix flag.
    const QByteArray baPilotKept = "100 0 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'";
    Row("pilot cut to 16", {}, kLongPilot[0], "", "100 1 | 'ABCDEFGHIJKLMNOP' 'ABCDEFGHIJKLMNOP'");
    Row("GET INFO starting with !", {}, "!LXDT,GET,INFO", "", "1 0 |");
    Row("GET NAVIGATE 5", {}, "$LXDT,GET,NAVIGATE,5", "", "10 1 | 5");
    // The keyword and the item are compared over their own length only.
    Row("keywords match as prefixes", {}, "$LXDT,GETX,TPX,3", "", "3 1 | 3");
    Row("SET PILOT shorter than before", kLongPilot, "$LXDT,SET,PILOT,Jan,Novak", "",
        "100 1 | 'Jan' 'Novak'");
    Row("SET GLIDER cut, field 3 unread", kLongPilot, "$LXDT,SET,GLIDER,1,Ventus 2cxT,D-KXYZ,Club class 18m",
        "", "101 1 | 'Ventus 2' 'D-KXYZ' 'Club class 1'");
    Row("SET TSK_PAR", kLongPilot, "$LXDT,SET,TSK_PAR,1,500,1:30:00", "", "102 1 | 1 500 5400");
    Row("SET TP", kLongPilot, "$LXDT,SET,TP,1,0,2940000,840000,ABCDEFGHIJKLMNOPQRST", "",
        "103 1 | 0 1 'ABCDEFGHIJKLMNOP' 0.855211 0.244346");
    Row("SET ZONE", kLongPilot, "$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3", "",
        "104 1 | 2 3 1 0 1.5708 0.794125 3.14159 500 1000 -3");
    Row("SET NAVIGATE", kLongPilot,
        "$VNDT,SET,NAVIGATE,4,Lesce airfield north gate,2971234,-1234567,7,1,2.5,300", "",
        "105 0 | 4 'Lesce airfield north gat' 0.864297 -0.359121 7 1 2.5 44");
    Row("SET MC_BAL", kLongPilot, "$LXDT,SET,MC_BAL,1.5,100,3,4,5,6,700", "",
        "106 1 | 1 1 1 1 1 1 1 1.5 100 3 4 5 6 700");
    Row("SET MC_BAL fields 3 and 5 only", kLongPilot + QByteArrayList{"$LXDT,SET,MC_BAL,2,100,1,2,3,4,500"},
        "$LXDT,SET,MC_BAL,1.5,,3", "", "106 1 | 1 0 1 0 0 0 0 1.5 0 3 0 0 0 0");
    Row("SET SC_VAR", kLongPilot, "$LXDT,SET,SC_VAR,1", "", "107 1 | 1");
    Row("GET after SET", kLongPilot + QByteArrayList{"$LXDT,SET,ZONE,2,3,1,0,90,45.5,180,500.7,1000,-3"},
        "$LXDT,GET,ZONE,7", "", "4 1 | 7");
    Row("SET SENS", kLongPilot, "$VNDT,SET,SENS,1", "", baPilotKept);
    Row("neither GET nor SET", kLongPilot, "!LXDT,ANSWER,INFO", "", baPilotKept);
}

void TestSentences::Records() {
    QFETCH(QByteArrayList, aPreamble);
    QFETCH(QByteArray, baSentence);
    // Built over dirty memory: whatever it held, a fresh parser starts from its own values, and the LX data
    // record is empty in every byte of every variant.
    alignas(BasicNMEA) unsigned char abyMemory[sizeof(BasicNMEA)];
    memset(abyMemory, 0xAA, sizeof abyMemory);
    BasicNMEA& framer = *new (abyMemory) BasicNMEA;
    const LxdtPayload& payload = framer.parser.lxdt.payload;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&payload), sizeof payload).count('\0'),
             qsizetype(sizeof payload));
    {
        StderrCapture quiet;
        for (const QByteArray& baEarlier : aPreamble)
            if (baEarlier.startsWith('+'))
                framer.parser.flarmError.uiTimeMs -= baEarlier.toUInt();
            else
                QVERIFY(FeedSentence(framer, baEarlier) != CodeNone);
    }
    framer.parser.flarmError.bErrorHandled = 1;
    StderrCapture capture;
    const SentenceCode uiCode = FeedSentence(framer, baSentence);
    const QByteArray baMessage = capture.Text();
    QTEST(baMessage, "baMessage");
    const facts::DispatchFact* pFact = facts::DispatchFactOf(
        baSentence.constData() + (baSentence.startsWith('$') || baSentence.startsWith('!')));
    QCOMPARE(uiCode, baMessage.contains("nvalid") ? CodeNone : pFact->uiCode);
    QTEST(facts::RecordText(framer.parser, pFact->uiCode), "baRecord");
    framer.~BasicNMEA();
}

QTEST_GUILESS_MAIN(TestSentences)
#include "test_sentences.moc"
