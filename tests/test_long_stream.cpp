// A long stream of every family's sentences with random field texts, line noise and damaged lines
// between them, fed byte by byte as a serial line delivers them. Each sentence must give the code of
// its kind and field count, and the framer must report each damaged line once.
#include "SentenceFeed.h"
#include "StderrCapture.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace common;

namespace {

// An identifier with any fixed leading fields; the rest of its fields are random texts.
struct Template {
    const char* pszStart;
    int iFields; // identifier included
    uint uiCode;
};

// clang-format off
const Template kTemplates[] = {
    {"$GPRMC", 12, CodeRmc}, {"!GNRMC", 13, CodeRmc}, {"$GPRMC", 11, CodeNone}, {"$GNRMC", 14, CodeNone},
    {"$GPGGA", 15, CodeGga}, {"$GNGGA", 16, CodeGga}, {"$GPGGA", 14, CodeNone}, {"$GNGGA", 17, CodeNone},
    {"$GNGSA", 18, CodeGsa}, {"$GPGSA", 17, CodeNone}, {"$GPGSA", 19, CodeNone},
    {"$GPGSV,2,1", 20, CodeGsv}, {"$GPGSV,2,2", 12, CodeGsv}, {"$GLGSV,1,1", 4, CodeGsv}, {"$GPGSV,1,1", 24, CodeGsv},
    {"$GPGSV,3,4", 8, CodeNone}, {"$GLGSV,3,0", 8, CodeNone}, {"$GNGSV,1,1", 8, CodeNone}, {"$GPGSV,1,1", 21, CodeNone},
    // Message 1 of Galileo never comes: its fill runs on far past the table.
    {"$GAGSV,3,2", 20, CodeGsv},
    {"$GNGNS", 13, CodeGns}, {"$GBGNS", 12, CodeNone}, {"$GLGNS", 14, CodeNone},
    {"$PFLAU", 11, CodePflau}, {"$PFLAU", 24, CodePflau}, {"$PFLAA", 12, CodePflaa}, {"$PFLAA", 13, CodeNone},
    {"$PFLAC,A,SER", 4, CodePflac}, {"$PFLAC,S,OBSTDB", 7, CodePflac}, {"$PFLAC,A,RADIOID", 5, CodePflac}, {"$PFLAE,A", 5, CodePflae},
    {"$PFLAL", 2, CodePflal}, {"$PFLAQ", 3, CodePflaq}, {"$PFLAQ", 24, CodePflaq},
    {"$LXWP0", 13, CodeLxwp0}, {"!w", 14, CodeC302}, {"!wXYZ", 13, CodeC302}, {"!w", 12, CodeNone}, {"$PCAID", 8, CodePcaid}, {"$PCAID", 3, CodeNone},
    {"$PNRMZ", 4, CodePgrmz}, {"$PGRMZ", 3, CodeNone}, {"$LXGRB", 3, CodeLxgrb}, {"$PFLX0,LXWP2", 24, CodePflx0}, {"$PFLX2", 8, CodePflx2},
    {"$RPYL", 8, CodeRpyl}, {"$LXDT,SET,NAVIGATE", 11, CodeLxdt}, {"$VNDT,SET,PILOT", 5, CodeLxdt}, {"!LXDT,GET,TP", 4, CodeLxdt},
    {"$LXDT,SET,MC_BAL", 10, CodeLxdt}, {"$VNREQ", 3, CodeRequest}, {"$VNINFO2", 8, CodeInfo}, {"$VNSET2", 7, CodeSettings},
    {"$VNLOGBOOK", 7, CodeLogbook}, {"$GPVTG", 10, CodeNone}, {"$VNINFO", 8, CodeNone}, {"$", 5, CodeNone},
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
