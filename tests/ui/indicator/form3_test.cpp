#include <QAccessible>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>

#include "accounting/program_state.h"
#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "support/send_mouse.h"
#include "ui/common/graph_box.h"
#include "ui/indicator/form3.h"
#include "ui/indicator/player_ticker.h"
#include "ui/indicator/ticker_line.h"

namespace kv {

namespace {

constexpr std::uint32_t kGreen = 0x7AF477;
constexpr std::uint32_t kGrey = 0x868686;

// One indicator with its own scripted world. It is placed at pixel (200, 100), i.e. at
// (3000, 1500) twips.
struct Rig {
    ProgramState state;
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    PlayerTicker ticker;
    std::unique_ptr<Form3> form;

    explicit Rig(bool accountingRuns = true) {
        state.indicatorLeft = 3000;
        state.indicatorTop = 1500;
        state.adapterIndex = 0;
        state.moneyLimit = 10;
        state.tariffPerMb = 2.5f;
        state.usedMb = 4.75f;
        state.watching = accountingRuns;
        form = std::make_unique<Form3>(state, platform, desktop, ticker);
    }

    Form3& Load() {
        form->Form_Load();
        return *form;
    }

    int Alpha() const { return qRound(form->windowOpacity() * 255); }

    void PointAt(int x, int y) { desktop.pointer = {x, y}; }
};

using test::SendMouse;

bool HasLine(const std::vector<GraphLine>& lines, GraphLine wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

std::vector<GraphLine> Bars(const std::vector<GraphLine>& lines) {
    std::vector<GraphLine> bars;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(bars),
                 [](const GraphLine& l) { return l.rgb == kGreen; });
    return bars;
}

// Counts the paint events of every control inside a window.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget& window) {
        for (QWidget* child : window.findChildren<QWidget*>()) {
            child->installEventFilter(this);
        }
    }
    QStringList painted;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted << watched->objectName();
        }
        return false;
    }
};

}  // namespace

class Form3Test : public QObject {
    Q_OBJECT

  private slots:
    void loadPlacesTheWindowDimmedAndOnTopWithThePlayerLineAsSaved_data();
    void loadPlacesTheWindowDimmedAndOnTopWithThePlayerLineAsSaved();
    void opacityAndHoverCaptionFollowThePointerWithStrictEdges_data();
    void opacityAndHoverCaptionFollowThePointerWithStrictEdges();
    void valuesShowOnlyWhileAnInterfaceIsWatched_data();
    void valuesShowOnlyWhileAnInterfaceIsWatched();
    void unusableTariffBlanksTheValuesAndKeepsRefreshing_data();
    void unusableTariffBlanksTheValuesAndKeepsRefreshing();
    void leftDragMovesTheWindowAndSnapsItToTheScreenEdge_data();
    void leftDragMovesTheWindowAndSnapsItToTheScreenEdge();
    void movesWithOtherButtonsDoNotMoveButStillRefresh_data();
    void movesWithOtherButtonsDoNotMoveButStillRefresh();
    void twoDoubleClicksHideAndRestoreThePlayerLine();
    void hiddenPlayerLineKeepsItsTextAndTheTickerPaused();
    void tickerPutsTheTrimmedTitleIntoTheLineAndKeepsItWithoutPlayer();
    void firstGraphStepAfterLoadRecordsNothing();
    void smallSpeedGetsAScaleOfOneAndABarToRowOne();
    void droppedSpikeStillSetsTheScaleOfItsOwnStep();
    void backgroundHasTheRowColoursAndLighterLeftColumnsAtAnyDensity();
    void aHugeTitleTicksAndShowsWholeCharactersFromItsStart();
    void secondsThatChangeNothingRepaintNothing_data();
    void secondsThatChangeNothingRepaintNothing();
};

void Form3Test::loadPlacesTheWindowDimmedAndOnTopWithThePlayerLineAsSaved_data() {
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<int>("height");
    QTest::newRow("player line shown") << false << 63;
    QTest::newRow("player line hidden") << true << 49;
}

void Form3Test::loadPlacesTheWindowDimmedAndOnTopWithThePlayerLineAsSaved() {
    QFETCH(bool, hidden);
    QFETCH(int, height);
    Rig rig;
    rig.state.playerLineHidden = hidden;
    Form3& form = rig.Load();

    QCOMPARE(form.pos(), QPoint(200, 100));
    QCOMPARE(form.LeftTopTwips(), (TwipsPosition{3000, 1500}));
    QCOMPARE(form.size(), QSize(181, height));
    QCOMPARE(form.Label7->geometry(), QRect(0, 0, 181, 63));
    QCOMPARE(form.Picture1->geometry(), QRect(0, 0, 181, 21));
    QCOMPARE(form.Label5->geometry(), QRect(0, 20, 181, 13));
    QCOMPARE(form.Label6->geometry(), QRect(0, 32, 61, 13));
    QCOMPARE(form.Label2->geometry(), QRect(60, 32, 61, 13));
    QCOMPARE(form.Label4->geometry(), QRect(120, 32, 61, 13));
    QCOMPARE(form.Text1->geometry(), QRect(0, 48, 181, 13));
    QCOMPARE(form.Command1->geometry(), QRect(100, 116, 25, 17));
    QCOMPARE(rig.Alpha(), 120);
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(form.Timer2->isActive(), !hidden);
    QCOMPARE(form.PlayerLineShown(), !hidden);
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.Timer3->isActive());
    QCOMPARE(form.Label2->text(), QStringLiteral("4,75 Мб"));
    form.StopTimers();
    QVERIFY(!form.Timer1->isActive() && !form.Timer2->isActive() && !form.Timer3->isActive());
}

void Form3Test::opacityAndHoverCaptionFollowThePointerWithStrictEdges_data() {
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("alignment");
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    const int centre = Qt::AlignCenter;
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    // Window 3000..5715 x 1500..2445 twips; value row 1980..2175.
    QTest::newRow("on the left edge is outside") << QPoint(200, 140) << 120 << "" << centre;
    QTest::newRow("one pixel inside the left edge")
        << QPoint(201, 140) << 255 << "Лимит трафика" << left;
    QTest::newRow("on the top edge is outside") << QPoint(250, 100) << 120 << "" << centre;
    QTest::newRow("on the right edge is outside") << QPoint(381, 110) << 120 << "" << centre;
    QTest::newRow("last pixel before the right edge") << QPoint(380, 110) << 255 << "" << centre;
    QTest::newRow("on the bottom edge is outside") << QPoint(250, 163) << 120 << "" << centre;
    QTest::newRow("on the value row's top edge") << QPoint(250, 132) << 255 << "" << centre;
    QTest::newRow("last pixel of the limit") << QPoint(260, 133) << 255 << "Лимит трафика" << left;
    QTest::newRow("shared column goes to the used value")
        << QPoint(261, 144) << 255 << "Текущий трафик" << centre;
    QTest::newRow("last pixel of the used value")
        << QPoint(320, 140) << 255 << "Текущий трафик" << centre;
    QTest::newRow("first pixel of the remaining value")
        << QPoint(321, 140) << 255 << "Осталось трафика" << right;
    QTest::newRow("below the value row") << QPoint(321, 145) << 255 << "" << centre;
}

void Form3Test::opacityAndHoverCaptionFollowThePointerWithStrictEdges() {
    QFETCH(QPoint, pointer);
    QFETCH(int, alpha);
    QFETCH(QString, caption);
    QFETCH(int, alignment);
    Rig rig;
    Form3& form = rig.Load();
    rig.PointAt(pointer.x(), pointer.y());
    form.Timer1_Timer();
    QCOMPARE(rig.Alpha(), alpha);
    QCOMPARE(form.Label5->text(), caption);
    QCOMPARE(int(form.Label5->alignment()), alignment);
}

void Form3Test::valuesShowOnlyWhileAnInterfaceIsWatched_data() {
    QTest::addColumn<bool>("accountingRuns");
    QTest::addColumn<int>("adapter");
    QTest::addColumn<QStringList>("values");
    const QStringList blank{"", "", ""};
    QTest::newRow("accounting stopped") << false << 0 << blank;
    QTest::newRow("no interface chosen") << true << -1 << blank;
    // 10 / 2,5 = 4 MB; 4 - 4,75 goes below zero.
    QTest::newRow("watching, beyond the limit")
        << true << 0 << QStringList{"4,0 Мб", "4,75 Мб", "-0,75 Мб"};
}

void Form3Test::valuesShowOnlyWhileAnInterfaceIsWatched() {
    QFETCH(bool, accountingRuns);
    QFETCH(int, adapter);
    QFETCH(QStringList, values);
    Rig rig(accountingRuns);
    rig.state.adapterIndex = adapter;
    Form3& form = rig.Load();
    QCOMPARE((QStringList{form.Label6->text(), form.Label2->text(), form.Label4->text()}), values);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(form.Label6);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->text(QAccessible::Name), values[0]);
    // The caption does not depend on the values being shown.
    rig.PointAt(330, 140);
    form.Timer1_Timer();
    QCOMPARE(form.Label5->text(), QStringLiteral("Осталось трафика"));
}

void Form3Test::unusableTariffBlanksTheValuesAndKeepsRefreshing_data() {
    QTest::addColumn<float>("tariff");
    QTest::newRow("zero") << 0.0f;
    QTest::newRow("negative") << -1.0f;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
}

void Form3Test::unusableTariffBlanksTheValuesAndKeepsRefreshing() {
    QFETCH(float, tariff);
    Rig rig;
    rig.state.tariffPerMb = tariff;
    Form3& form = rig.Load();
    QCOMPARE(form.Label6->text(), QString());
    QCOMPARE(form.Label4->text(), QString());
    QCOMPARE(form.Label2->text(), QString());
    rig.PointAt(250, 120);
    form.Timer1_Timer();
    QCOMPARE(rig.Alpha(), 255);
}

void Form3Test::leftDragMovesTheWindowAndSnapsItToTheScreenEdge_data() {
    QTest::addColumn<bool>("onGraph");
    QTest::addColumn<bool>("playerLineHidden");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QPoint>("expected");
    // Pressed at pixel (210, 105): 10 and 5 pixels into the window.
    QTest::newRow("free move on the hit area")
        << false << false << QPoint(510, 405) << QPoint(500, 400);
    QTest::newRow("free move on the graph")
        << true << false << QPoint(510, 405) << QPoint(500, 400);
    QTest::newRow("ten pixels from the left snaps")
        << false << false << QPoint(20, 405) << QPoint(0, 400);
    QTest::newRow("eleven pixels from the left stays")
        << false << false << QPoint(21, 405) << QPoint(11, 400);
    QTest::newRow("past the bottom right snaps flush")
        << true << false << QPoint(1919 - 181 + 10 + 5, 1079 - 63 + 5 + 5)
        << QPoint(1920 - 181, 1080 - 63);
    // 45 pixels above the bottom: too far for the tall window, within reach of the short one.
    QTest::newRow("tall window 45 pixels above the bottom stays")
        << false << false << QPoint(510, 1035 + 5) << QPoint(500, 1035);
    QTest::newRow("short window snaps by its own height")
        << false << true << QPoint(510, 1035 + 5) << QPoint(500, 1031);
}

void Form3Test::leftDragMovesTheWindowAndSnapsItToTheScreenEdge() {
    QFETCH(bool, onGraph);
    QFETCH(bool, playerLineHidden);
    QFETCH(QPoint, to);
    QFETCH(QPoint, expected);
    Rig rig;
    rig.state.playerLineHidden = playerLineHidden;
    Form3& form = rig.Load();
    QCOMPARE(form.PlayerLineShown(), !playerLineHidden);
    QWidget* surface = onGraph ? static_cast<QWidget*>(form.Picture1) : form.Label7;
    rig.PointAt(210, 105);
    SendMouse(surface, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(rig.state.dragOffsetX, 150);
    QCOMPARE(rig.state.dragOffsetY, 75);
    rig.PointAt(to.x(), to.y());
    SendMouse(surface, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(form.pos(), expected);
    QCOMPARE(form.LeftTopTwips(), (TwipsPosition{expected.x() * 15, expected.y() * 15}));
    QCOMPARE(rig.Alpha(), 255);
}

void Form3Test::movesWithOtherButtonsDoNotMoveButStillRefresh_data() {
    QTest::addColumn<int>("buttons");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("left and right") << int(Qt::LeftButton | Qt::RightButton);
    QTest::newRow("none") << int(Qt::NoButton);
}

void Form3Test::movesWithOtherButtonsDoNotMoveButStillRefresh() {
    QFETCH(int, buttons);
    Rig rig;
    Form3& form = rig.Load();
    rig.PointAt(230, 120);
    // Any button records where the drag would start.
    SendMouse(form.Label7, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton);
    QCOMPARE(rig.state.dragOffsetX, 450);
    QCOMPARE(rig.state.dragOffsetY, 300);
    rig.PointAt(250, 140);
    SendMouse(form.Label7, QEvent::MouseMove, Qt::NoButton, Qt::MouseButtons(buttons));
    QCOMPARE(form.pos(), QPoint(200, 100));
    QCOMPARE(rig.Alpha(), 255);
    QCOMPARE(form.Label5->text(), QStringLiteral("Лимит трафика"));
}

void Form3Test::twoDoubleClicksHideAndRestoreThePlayerLine() {
    Rig rig;
    Form3& form = rig.Load();
    SendMouse(form.Label7, QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(form.height(), 49);
    QVERIFY(!form.Timer2->isActive());
    QVERIFY(!form.PlayerLineShown());
    QVERIFY(rig.state.tickerPaused);
    QVERIFY(rig.state.playerLineHidden);
    QCOMPARE(form.Label7->height(), 63);

    SendMouse(form.Picture1, QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(form.height(), 63);
    QVERIFY(form.Timer2->isActive());
    QVERIFY(form.PlayerLineShown());
    QVERIFY(!rig.state.tickerPaused);
    QVERIFY(!rig.state.playerLineHidden);
}

void Form3Test::hiddenPlayerLineKeepsItsTextAndTheTickerPaused() {
    Rig rig;
    rig.platform.playerTitle = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    Form3& form = rig.Load();
    form.Timer2_Timer();
    form.Timer2_Timer();
    const QString shown = form.Text1->text();
    SendMouse(form.Label7, QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
    rig.platform.playerTitle = "Other";
    form.Timer2_Timer();
    QCOMPARE(form.Text1->text(), shown);
    QCOMPARE(rig.ticker.tickerPos, 2);
}

void Form3Test::tickerPutsTheTrimmedTitleIntoTheLineAndKeepsItWithoutPlayer() {
    Rig rig;
    rig.platform.playerTitle = "12. Кино - Звезда по имени Солнце - Winamp";
    Form3& form = rig.Load();
    QCOMPARE(form.Text1->text(), QString());
    form.Timer2_Timer();
    QCOMPARE(form.Text1->text(), QStringLiteral(" Кино - Звезда по имени Солнце"));
    rig.platform.playerTitle.reset();
    form.Timer2_Timer();
    QCOMPARE(form.Text1->text(), QStringLiteral(" Кино - Звезда по имени Солнце"));
}

void Form3Test::firstGraphStepAfterLoadRecordsNothing() {
    Rig rig;
    rig.state.currentSpeed = 5000;
    Form3& form = rig.Load();
    QCOMPARE(rig.state.indicatorGraphWidth, 181.0);
    QCOMPARE(rig.state.indicatorGraphHeight, 21.0);
    QCOMPARE(rig.state.indicatorScaleMax, 5000.0);
    QCOMPARE(form.Picture1->Lines(), (std::vector<GraphLine>{{0, 20, 181, 20, kGrey}}));
}

void Form3Test::smallSpeedGetsAScaleOfOneAndABarToRowOne() {
    Rig rig;
    rig.state.currentSpeed = 20;
    Form3& form = rig.Load();
    form.Timer3_Timer();
    QCOMPARE(rig.state.indicatorBytesPerPixel, 1.0);
    QCOMPARE(Bars(form.Picture1->Lines()),
             (std::vector<GraphLine>{{180, 19, 180, 1, kGreen}, {181, 19, 181, 1, kGreen}}));
}

void Form3Test::droppedSpikeStillSetsTheScaleOfItsOwnStep() {
    Rig rig;
    rig.state.currentSpeed = 2100;
    Form3& form = rig.Load();
    form.Timer3_Timer();
    QVERIFY(HasLine(form.Picture1->Lines(), {181, 19, 181, 0, kGreen}));  // 2100 / 100

    rig.state.currentSpeed = 5000000;
    form.Timer3_Timer();
    QCOMPARE(rig.state.indicatorScaleMax, 5000000.0);
    QCOMPARE(rig.state.indicatorHistoryMax, 2100.0);
    // The spike is not recorded: the 2100 samples move on and shrink below one pixel.
    QCOMPARE(Bars(form.Picture1->Lines()), (std::vector<GraphLine>{{179, 19, 179, 21, kGreen},
                                                                   {180, 19, 180, 21, kGreen},
                                                                   {181, 19, 181, 21, kGreen}}));
}

void Form3Test::backgroundHasTheRowColoursAndLighterLeftColumnsAtAnyDensity() {
    const QImage normal = IndicatorBackground(1);
    QCOMPARE(normal.size(), QSize(181, 21));
    QCOMPARE(normal.pixelColor(100, 11), QColor(59, 58, 60));
    QCOMPARE(normal.pixelColor(0, 19), QColor(37, 37, 37));
    QVERIFY(normal.pixelColor(2, 19).red() > 25 && normal.pixelColor(3, 19).red() == 25);
    const QImage dense = IndicatorBackground(2);
    QCOMPARE(dense.size(), QSize(362, 42));
    QCOMPARE(dense.devicePixelRatio(), 2.0);
    QCOMPARE(dense.pixelColor(201, 23), normal.pixelColor(100, 11));
}

void Form3Test::aHugeTitleTicksAndShowsWholeCharactersFromItsStart() {
    Rig rig;
    rig.platform.playerTitle = "Ж";
    for (int i = 0; i < 100000; ++i) {
        *rig.platform.playerTitle += "Ф";
    }
    Form3& form = rig.Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int step = 0; step < 20; ++step) {
        form.Timer2_Timer();
        form.repaint();
    }
    const QString line = form.Text1->text();
    QVERIFY(line.size() >= 36);
    QCOMPARE(line, QString(line.size(), QChar(u'Ф')));
    QCOMPARE(rig.ticker.tickerPos, 20);
}

void Form3Test::secondsThatChangeNothingRepaintNothing_data() {
    QTest::addColumn<bool>("watching");
    QTest::addColumn<bool>("hovering");
    QTest::newRow("values shown, pointer away") << true << false;
    QTest::newRow("no interface watched, pointer away") << false << false;
    QTest::newRow("values shown, pointer on a value") << true << true;
}

// A meter that sits on screen all day must not redraw what did not change.
void Form3Test::secondsThatChangeNothingRepaintNothing() {
    QFETCH(bool, watching);
    QFETCH(bool, hovering);
    Rig rig;
    rig.state.adapterIndex = watching ? 0 : -1;
    rig.platform.playerTitle = "Кино - Звезда";
    rig.PointAt(hovering ? 230 : 0, hovering ? 140 : 0);
    Form3& form = rig.Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Timer1_Timer();
    form.Timer2_Timer();
    QCoreApplication::processEvents();
    PaintCounter counter(form);
    for (int second = 0; second < 3; ++second) {
        form.Timer1_Timer();
        for (int step = 0; step < 4; ++step) {
            form.Timer2_Timer();
        }
        QCoreApplication::processEvents();
    }
    QVERIFY2(counter.painted.isEmpty(), qPrintable(counter.painted.join(u' ')));
}

}  // namespace kv

QTEST_MAIN(kv::Form3Test)
#include "form3_test.moc"
