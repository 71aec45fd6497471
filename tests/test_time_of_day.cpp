// The parser's clock gives what QTime::currentTime() gives, in a zone whose offset is not whole hours.
#include "common/TimeOfDay.h"

#include <QDateTime>
#include <QtTest>

#include <cstdlib>

class TestTimeOfDay : public QObject {
    Q_OBJECT

private slots:
    // Five hours and 45 minutes east of UTC, set before either clock first looks at the zone.
    void initTestCase() {
        setenv("TZ", "VNT-5:45", 1);
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 45 * 60);
    }

    // Both count the same wall clock in whole milliseconds, so a reading taken between two readings of
    // QTime lies between them; a zone mistake or a wrong rounding does not.
    void matchesQTime() {
        for (int i = 0; i < 20000; ++i) {
            const int iBefore = QTime::currentTime().msecsSinceStartOfDay();
            const int iNow = static_cast<int>(common::TimeOfDayMs());
            const int iAfter = QTime::currentTime().msecsSinceStartOfDay();
            if (iAfter < iBefore)
                continue; // midnight passed
            QVERIFY2(iNow >= iBefore && iNow <= iAfter,
                     qPrintable(QStringLiteral("%1 outside %2..%3").arg(iNow).arg(iBefore).arg(iAfter)));
        }
    }
};

QTEST_APPLESS_MAIN(TestTimeOfDay)
#include "test_time_of_day.moc"
