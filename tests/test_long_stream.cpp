// A long stream of every family's sentences with random field texts, line noise and damaged lines
// between them, fed byte by byte as a serial line delivers them. Each sentence must give the code of
// its kind and field count, and the framer must report each damaged line once.
#include "SentenceFeed.h"
#include "StderrCapture.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// An identifier with any fixed leading fields; the rest of its fields are random texts.
struct Template {
    const char* pszStart;
    int iFields; // identifier included
    uint uiCode;
};

// clang-format off
const Template kTemplates[] = {
    {"$GPRMC", 12, 1}, {"!GNRMC", 13, 1}, {"$GPRMC", 11, 0}, {"$GNRMC", 14, 0},
    {"$GPGGA", 15, 2}, {"$GNGGA", 16, 2}, {"$GPGGA", 14, 0}, {"$GNGGA", 17, 0},
    {"$GNGSA", 18, 3}, {"$GPGSA", 17, 0}, {"$GPGSA", 19, 0},
    {"$GPGSV,2,1", 20, 4}, {"$GPGSV,2,2", 12, 4}, {"$GLGSV,1,1", 4, 4}, {"$GPGSV,1,1", 24, 4},
    {"$GPGSV,3,4", 8, 0}, {"$GLGSV,3,0", 8, 0}, {"$GNGSV,1,1", 8, 0}, {"$GPGSV,1,1", 21, 0},
    // Message 1 of Galileo never comes: its fill runs on far past the table.
    {"$GAGSV,3,2", 20, 4},
    {"$GNGNS", 13, 5}, {"$GBGNS", 12, 0}, {"$GLGNS", 14, 0},
    {"$PFLAU", 11, 6}, {"$PFLAU", 24, 6}, {"$PFLAA", 12, 7}, {"$PFLAA", 13, 0},
    {"$PFLAC,A,SER", 4, 8}, {"$PFLAC,S,OBSTDB", 7, 8}, {"$PFLAC,A,RADIOID", 5, 8}, {"$PFLAE,A", 5, 9},
    {"$PFLAL", 2, 10}, {"$PFLAQ", 3, 11}, {"$PFLAQ", 24, 11},
    {"$LXWP0", 13, 14}, {"!w", 14, 15}, {"!wXYZ", 13, 15}, {"!w", 12, 0}, {"$PCAID", 8, 16}, {"$PCAID", 3, 0},
    {"$PNRMZ", 4, 17}, {"$PGRMZ", 3, 0}, {"$LXGRB", 3, 18}, {"$PFLX0,LXWP2", 24, 19}, {"$PFLX2", 8, 20},
    {"$RPYL", 8, 21}, {"$LXDT,SET,NAVIGATE", 11, 22}, {"$VNDT,SET,PILOT", 5, 22}, {"!LXDT,GET,TP", 4, 22},
    {"$LXDT,SET,MC_BAL", 10, 22}, {"$VNREQ", 3, 23}, {"$VNINFO2", 8, 24}, {"$VNSET2", 7, 25},
    {"$VNLOGBOOK", 7, 26}, {"$GPVTG", 10, 0}, {"$VNINFO", 8, 0}, {"$", 5, 0},
};
// clang-format on
constexpr int kTemplateCount = sizeof kTemplates / sizeof kTemplates[0];

// What lies between the sentences: nothing, or a line that the framer must drop.
enum Damage { Intact, BadChecksum, Oversize, TooManyFields, Noise, DamageKinds };

// Neither a start character, the checksum marker nor a separator; blanks and top-bit bytes as sent.
const char kFieldAlphabet[] = "0123456789ABCDEFXYZabcdefxyz .-+:_/\xC3\xA9";

class StreamGenerator {
public:
    // Empty, small and huge numbers, decimals, hexadecimal or free text, cut to the room left.
    QByteArray Field(int iBudget) {
        QByteArray baField;
        const int iShape = random.bounded(6);
        if (iShape == 1)
            baField = QByteArray::number(random.bounded(1000) - 100);
        else if (iShape == 2)
            baField = QByteArray::number(random.generate64() >> random.bounded(64));
        else if (iShape == 3)
            baField = QByteArray::number(random.bounded(200000) - 50000) + "." +
                      QByteArray::number(random.bounded(1000));
        else if (iShape == 4)
            baField = QByteArray::number(random.generate(), 16).toUpper();
        for (int i = iShape == 5 ? random.bounded(15) : 0; i > 0; --i)
            baField += Char();
        return baField.left(iBudget);
    }

    char Char() { return kFieldAlphabet[random.bounded(int(sizeof kFieldAlphabet - 1))]; }

    // The template's sentence with random fields, kept below the framer's size limit.
    QByteArray Sentence(const Template& t) {
        QByteArray baText = t.pszStart;
        for (int i = baText.count(',') + 1; i < t.iFields; ++i)
            baText += "," + Field(BasicNMEA::kMaxLength - 2 - baText.size() - (t.iFields - i));
        return Framed(baText);
    }

    QRandomGenerator random{20240611u};
};

} // namespace

class TestLongStream : public QObject {
    Q_OBJECT

private slots:
    void MixedStream();
};

// A day of busy traffic, enough for the Galileo runs without message 1 to push the fill index far
// beyond any table.
constexpr int kItems = 1000000;

void TestLongStream::MixedStream() {
    BasicNMEA framer;
    StreamGenerator generator;
    QRandomGenerator& random = generator.random;
    int aiTemplateUses[kTemplateCount] = {};
    int aiDamages[DamageKinds] = {};

    StderrCapture capture;
    for (int iItem = 0; iItem < kItems; ++iItem) {
        const int iTemplate = random.bounded(kTemplateCount);
        QByteArray baItem = generator.Sentence(kTemplates[iTemplate]);
        const Damage damage = random.bounded(8) != 0 ? Intact : Damage(1 + random.bounded(DamageKinds - 1));
        const uint uiExpected = damage == Intact ? kTemplates[iTemplate].uiCode : 0;
        if (damage == BadChecksum) {
            char& cDigit = baItem[baItem.size() - 3];
            cDigit = cDigit == '0' ? '1' : '0';
        } else if (damage == Oversize) {
            baItem = "$GPGGA";
            for (int i = -random.bounded(20); i < BasicNMEA::kMaxLength; ++i)
                baItem += generator.Char();
            baItem += "*00\r\n";
        } else if (damage == TooManyFields) {
            baItem = "$LXWP0" + QByteArray(",1").repeated(24 + random.bounded(10)) + "*00\r\n";
        } else if (damage == Noise) {
            baItem.clear();
            for (int i = random.bounded(40); i >= 0; --i) {
                const char c = char(random.bounded(256));
                baItem += c == '$' || c == '!' ? '\n' : c;
            }
        }
        ++aiDamages[damage];
        aiTemplateUses[iTemplate] += damage == Intact;

        uint uiCode = 0;
        int iCodes = 0;
        for (const char c : baItem) {
            framer.ProcessByte(static_cast<uint8_t>(c));
            if (framer.uiLastCode != 0) {
                uiCode = framer.uiLastCode;
                ++iCodes;
            }
        }
        if (uiCode != uiExpected || iCodes > 1)
            QFAIL(qPrintable(QString("%1 gave %2, expected %3")
                                 .arg(baItem.toPercentEncoding(" ,.:-+_*$!"))
                                 .arg(uiCode)
                                 .arg(uiExpected)));
    }
    const QByteArray baStderr = capture.Text();

    for (int i = 0; i < kTemplateCount; ++i)
        QVERIFY2(aiTemplateUses[i] > 0, kTemplates[i].pszStart);
    // The Galileo messages without message 1 ran the fill index well past the table.
    QVERIFY(framer.parser.gsvGalileo.iFill > 1000);
    // The framer reported exactly the damaged lines, each once.
    QCOMPARE(int(baStderr.count("NMEA CRC error ")), aiDamages[BadChecksum]);
    QCOMPARE(int(baStderr.count("NMEA size error.\n")), aiDamages[Oversize]);
    QCOMPARE(int(baStderr.count("NMEA field count error\n")), aiDamages[TooManyFields]);
}

QTEST_GUILESS_MAIN(TestLongStream)
#include "test_long_stream.moc"
