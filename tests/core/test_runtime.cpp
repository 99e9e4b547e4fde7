#include "core/runtime.h"

#include <QTest>

#include <cfenv>
#include <limits>

using namespace rt;

namespace
{
int errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RuntimeError &e) {
        return e.number();
    }
    return 0;
}
} // namespace

class TestRuntime : public QObject
{
    Q_OBJECT
    QStringList reported;
    QList<int> quits;

private slots:
    void init()
    {
        reported.clear();
        quits.clear();
        resetEnd();
        setHost({[this](const QString &t) { reported << t; }, [this](int s) { quits << s; }});
    }
    void cleanup() { resetEnd(); }

    void roundingTiesGoToEven()
    {
        QCOMPARE(roundToInt32(0.5), 0);
        QCOMPARE(roundToInt32(1.5), 2);
        QCOMPARE(roundToInt32(2.5), 2);
        QCOMPARE(roundToInt32(3.5), 4);
        QCOMPARE(roundToInt32(-2.5), -2);
        QCOMPARE(roundToInt32(-3.5), -4);
        QCOMPARE(roundToInt32(2.4999), 2);
        QCOMPARE(roundToInt32(2.5001), 3);
        QCOMPARE(roundToInt32(32766.5), 32766);
        QCOMPARE(roundToInt32(1019.5), 1020);
        // Whatever the caller's rounding mode, which stays as it was.
        QCOMPARE(std::fesetround(FE_UPWARD), 0);
        const int32_t up = roundToInt32(2.5), down = roundToInt32(-3.2);
        const int mode = std::fegetround();
        std::fesetround(FE_TONEAREST);
        QCOMPARE(up, 2);
        QCOMPARE(down, -3);
        QCOMPARE(mode, FE_UPWARD);
    }

    void conversionsOutOfRangeOverflow()
    {
        QCOMPARE(errorOf([] { roundToInt32(2147483647.5); }), int(ErrOverflow));
        QCOMPARE(roundToInt32(-2147483648.0), std::numeric_limits<int32_t>::min());
        QCOMPARE(errorOf([] { roundToInt32(std::numeric_limits<double>::quiet_NaN()); }),
                 int(ErrOverflow));
        QCOMPARE(errorOf([] { roundToInt32(std::numeric_limits<double>::infinity()); }),
                 int(ErrOverflow));
    }

    void checkedArithmetic()
    {
        QCOMPARE(mul16(3000, 10), int16_t(30000));
        QCOMPARE(errorOf([] { mul16(3277, 10); }), int(ErrOverflow));
        QCOMPARE(errorOf([] { mul16(-32768, -1); }), int(ErrOverflow));
        QCOMPARE(mul32(30000, 4000), 120000000);
        QCOMPARE(errorOf([] { mul32(536871, 4000); }), int(ErrOverflow));
        QCOMPARE(errorOf([] { cint16(40000); }), int(ErrOverflow));
        QCOMPARE(idiv32(3930, 15), 262);
        QCOMPARE(idiv32(-7, 2), -3); // discards the remainder
        QCOMPARE(errorOf([] { idiv32(1, 0); }), int(ErrDivisionByZero));
        QCOMPARE(errorOf([] { idiv32(std::numeric_limits<int32_t>::min(), -1); }),
                 int(ErrOverflow));
    }

    void floatingDivision()
    {
        QCOMPARE(quotient(1020, 6855), 1020.0 / 6855);
        QCOMPARE(errorOf([] { quotient(1, 0); }), int(ErrDivisionByZero));
        QCOMPARE(errorOf([] { quotient(0, 0); }), int(ErrOverflow));
        QCOMPARE(errorOf([] { quotient(1e308, 1e-308); }), int(ErrOverflow));
    }

    void twips()
    {
        QCOMPARE(twipsToPixels(6855), 457);
        QCOMPARE(twipsToPixels(7.5), 0);  // half a pixel: ties to even
        QCOMPARE(twipsToPixels(22.5), 2); // one and a half
        QCOMPARE(pixelsToTwips(68), 1020.0f);
    }

    void errorsCarryNumberAndText()
    {
        const RuntimeError e(ErrOverflow);
        QCOMPARE(e.number(), 6);
        QCOMPARE(e.text(), QStringLiteral("オーバーフローしました。"));
        QCOMPARE(QString::fromUtf8(e.what()), e.text());
        const RuntimeError own(1234, QStringLiteral("独自"));
        QCOMPARE(own.text(), QStringLiteral("独自"));
        QCOMPARE(RuntimeError::standardText(ErrCancel),
                 QStringLiteral("[キャンセル] が選択されました。"));
    }

    void unhandledErrorIsShownThenEndsTheProgram()
    {
        guard([] { throw RuntimeError(ErrDivisionByZero); });
        QCOMPARE(reported, QStringList{RuntimeError::standardText(ErrDivisionByZero)});
        QCOMPARE(quits, QList<int>{1});
        QVERIFY(ended());
        QCOMPARE(endStatus(), 1);
        // Nothing runs once the program has ended.
        bool ran = false;
        guard([&] { ran = true; });
        QVERIFY(!ran);
    }

    void endIsQuietAndStopsTheHandler()
    {
        QStringList steps;
        guard([&] {
            steps << "before";
            End();
            steps << "after";
        });
        QCOMPARE(steps, QStringList{"before"});
        QVERIFY(reported.isEmpty());
        QCOMPARE(quits, QList<int>{0});
        QCOMPARE(endStatus(), 0);
    }

    void errorTrapKeepsStepsDoneAndIgnoresEnd()
    {
        // A trap catches run-time errors; steps before the error stay done.
        int done = 0;
        guard([&] {
            try {
                ++done;
                mul16(30000, 2);
                ++done;
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number(), int(ErrOverflow));
            }
            ++done;
        });
        QCOMPARE(done, 2);
        QVERIFY(!ended());
        // End passes through a trap.
        guard([&] {
            try {
                End(3);
            } catch (const RuntimeError &) {
                QFAIL("a trap caught the end of the program");
            }
        });
        QCOMPARE(endStatus(), 3);
    }

    void nestedHandlerEndingStopsItsCaller()
    {
        // An event handler nested inside another (a resize raised by a
        // handler's own step) ends the program; the outer one stops at its
        // next step that waits on events.
        QStringList steps;
        guard([&] {
            steps << "outer";
            guard([&] { throw RuntimeError(ErrOverflow); });
            checkpoint();
            steps << "outer continued";
        });
        QCOMPARE(steps, QStringList{"outer"});
        QCOMPARE(reported.size(), 1);
        QCOMPARE(quits, QList<int>{1});
    }

    void foreignExceptionsNeverReachQt()
    {
        guard([] { throw std::bad_alloc(); });
        QCOMPARE(reported, QStringList{RuntimeError::standardText(ErrOutOfMemory)});
        QCOMPARE(quits, QList<int>{1});
        // Not even what is no exception class at all.
        resetEnd();
        guard([] { throw 42; });
        QCOMPARE(reported.size(), 2);
        QCOMPARE(reported.last(), RuntimeError::standardText(ErrApplicationDefined));
        QCOMPARE(quits, (QList<int>{1, 1}));
    }
};

QTEST_GUILESS_MAIN(TestRuntime)
#include "test_runtime.moc"
