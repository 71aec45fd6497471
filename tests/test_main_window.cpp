// The window as the user sees it at start: its groups, their widgets with texts, ranges and items, and the
// layout. What the buttons and the timer do is driven end to end in test_device_link and beside it.
#include "app/MainWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QString Describe(const QWidget* pWidget, bool bDeep);

// A layout as "H(...)" or "V(...)" around its items; bDeep describes the widgets within groups too.
QString Render(const QLayout* pLayout, bool bDeep) {
    QStringList items;
    for (int i = 0; i < pLayout->count(); i++) {
        QLayoutItem* pItem = pLayout->itemAt(i);
        items << (pItem->widget()   ? Describe(pItem->widget(), bDeep)
                  : pItem->layout() ? Render(pItem->layout(), bDeep)
                                    : QStringLiteral("~"));
    }
    const QBoxLayout* pBox = qobject_cast<const QBoxLayout*>(pLayout);
    return QLatin1String(pBox && pBox->direction() == QBoxLayout::LeftToRight ? "H(" : "V(") +
           items.join(QLatin1Char(' ')) + QLatin1Char(')');
}

// A widget as the user sees it: a text in quotes, or else its object name with a spin box's range, step and
// shown text, a combo box's items (marked where their data is not their position), a bar's range.
QString Describe(const QWidget* pWidget, bool bDeep) {
    const QString sName = pWidget->objectName();
    const QVariant minimum = pWidget->property("minimum"), maximum = pWidget->property("maximum");
    const QGroupBox* pGroup = qobject_cast<const QGroupBox*>(pWidget);
    const QLabel* pLabel = qobject_cast<const QLabel*>(pWidget);
    const QAbstractButton* pButton = qobject_cast<const QAbstractButton*>(pWidget);
    const QComboBox* pCombo = qobject_cast<const QComboBox*>(pWidget);
    const QAbstractSpinBox* pSpin = qobject_cast<const QAbstractSpinBox*>(pWidget);
    if (!bDeep)
        return sName;
    if (pGroup)
        return QStringLiteral("'%1'%2 ").arg(pGroup->title(),
                                             QLatin1String(pGroup->isHidden() ? " hidden" : "")) +
               Render(pGroup->layout(), true);
    if (pLabel)
        return QStringLiteral("'%1'").arg(pLabel->text());
    if (pButton)
        return QStringLiteral("'%1'%2").arg(pButton->text(),
                                            QLatin1String(pButton->isChecked() ? " checked" : ""));
    if (pSpin)
        return sName + QStringLiteral(" %1..%2/%3 '%4'")
                           .arg(minimum.toString(), maximum.toString(),
                                pSpin->property("singleStep").toString(), pSpin->text());
    if (pCombo) {
        QStringList items;
        for (int i = 0; i < pCombo->count(); i++)
            items << pCombo->itemText(i) + QLatin1String(pCombo->itemData(i) == QVariant(i) ? "" : "#?");
        return sName + QStringLiteral(" [%1]").arg(items.join(QLatin1Char(',')));
    }
    if (minimum.isValid())
        return sName + QStringLiteral(" %1..%2").arg(minimum.toString(), maximum.toString());
    return sName + QLatin1String(pWidget->isEnabled() ? "" : " disabled");
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> pWindow;

private slots:
    void init() { pWindow = std::make_unique<MainWindow>(); }
    void cleanup() { pWindow.reset(); }

    // One row per group of the main column, and one for the debug column beside it.
    void groups_data() {
        QTest::addColumn<QString>("expected");
        const char* const apszRows[][2] = {
            {"comGroup", "'COM settings' V(H('COM port:' portCombo [] 'Refresh' 'Connect'))"},
            {"deviceInfoGroup", "'Device info' V('')"},
            {"settingsGroup",
             "'Settings' hidden V(H("
             "V(H('TE Level:' teLevelSpin -10..120/1 '0%') "
             "H('Vario filter:' varioFilterSpin 0.5..10/0.1 '1.5s') "
             "H('Telemetry pair key:' pairKeySpin 0..999999/1 '0')) "
             "V(H('Servo channel:' servoChannelSpin -1..24/1 '-1') "
             "H('Servo trigger:' servoTriggerSpin 0..100/1 '0%') "
             "H('Telemetry:' telemetryCombo [None,JetiEx,PowerBox System,JetiEX compress,Graupner HoTT]))"
             ") 'Save')"},
            {"settings2Group",
             "'Settings' hidden V(H(V(H('PairKey:' pairKey2Spin 0..999999/1 '0')) "
             "V(H('Telemetry:' telemetry2Combo [None,JetiEx,PowerBox System,Graupner HoTT]))) 'Save')"},
            {"logbookGroup",
             "'Logbook' V(H('Flight:' flightCombo [] 'Download' 'Empty') downloadProgress 0..100)"},
            {"updateGroup",
             "'Update' V(H(updateFileEdit disabled 'Select File' 'Update') updateProgress 0..100)"},
            {"debug column", "V(H('Enable Output' checked 'Clear') sentText receivedText)"},
        };
        for (const auto& row : apszRows)
            QTest::newRow(row[0]) << QString::fromUtf8(row[1]);
    }
    void groups() {
        QFETCH(QString, expected);
        pWindow->findChild<QComboBox*>(QStringLiteral("portCombo"))->clear(); // the machine's own ports
        const QLayout* pTopRow = pWindow->centralWidget()->layout();
        const QString sTag = QString::fromLatin1(QTest::currentDataTag());
        QCOMPARE(sTag.endsWith(QLatin1String("Group")) ? Describe(pWindow->findChild<QGroupBox*>(sTag), true)
                                                       : Render(pTopRow->itemAt(1)->layout(), true),
                 expected);
        // Every push button is a default button, enabled from the start.
        for (const QPushButton* pButton : pWindow->findChildren<QPushButton*>())
            QVERIFY(pButton->isDefault() && pButton->isEnabled());
    }

    void windowLayoutAndTimer() {
        QCOMPARE(pWindow->windowTitle(), QStringLiteral("Vornik device tool v1.2"));
        // The debug column stands beside the main column, whose groups stack from the top.
        const QLayout* pTopRow = pWindow->centralWidget()->layout();
        QCOMPARE(Render(pTopRow, false),
                 QStringLiteral("H(V(comGroup deviceInfoGroup settingsGroup settings2Group "
                                "logbookGroup updateGroup) V(H(enableOutputCheck clearButton) "
                                "sentText receivedText))"));
        QCOMPARE(pTopRow->itemAt(0)->layout()->alignment(), Qt::AlignTop);
        // The poll runs once a second for the whole run.
        const QTimer* pTimer = pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"));
        QVERIFY(pTimer && pTimer->isActive() && !pTimer->isSingleShot());
        QCOMPARE(pTimer->interval(), 1000);
    }

    // Clear empties both panes whatever "Enable Output" says.
    void clearEmptiesBothPanes() {
        QCheckBox* pCheck = pWindow->findChild<QCheckBox*>(QStringLiteral("enableOutputCheck"));
        const QList<QTextEdit*> panes = pWindow->findChildren<QTextEdit*>();
        QCOMPARE(panes.size(), 2);
        for (const bool bOutput : {true, false}) {
            pCheck->setChecked(bOutput);
            for (QTextEdit* pPane : panes)
                pPane->setPlainText(QStringLiteral("$VNREQ,0*7A"));
            pWindow->findChild<QPushButton*>(QStringLiteral("clearButton"))->click();
            QCOMPARE(panes[0]->toPlainText() + panes[1]->toPlainText(), QString());
            QCOMPARE(pCheck->isChecked(), bOutput);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
