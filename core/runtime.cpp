#include "core/runtime.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace rt
{

namespace
{
Host g_host;
bool g_ended = false;
int g_endStatus = 0;
int g_guardDepth = 0;

void requestEnd(int status)
{
    if (g_ended)
        return;
    g_ended = true;
    g_endStatus = status;
    if (g_host.quit)
        g_host.quit(status);
}
} // namespace

RuntimeError::RuntimeError(int number, QString text)
    : number_(number), text_(std::move(text)), utf8_(text_.toStdString())
{
}

RuntimeError::RuntimeError(int number) : RuntimeError(number, standardText(number)) {}

QString RuntimeError::standardText(int number)
{
    switch (number) {
    case ErrInvalidCall:
        return QStringLiteral("プロシージャの呼び出し、または引数が不正です。");
    case ErrOverflow:
        return QStringLiteral("オーバーフローしました。");
    case ErrOutOfMemory:
        return QStringLiteral("メモリが不足しています。");
    case ErrDivisionByZero:
        return QStringLiteral("0 で除算しました。");
    case ErrFileNotFound:
        return QStringLiteral("ファイルが見つかりません。");
    case ErrInvalidFileFormat:
        return QStringLiteral("ファイル形式が不正です。");
    case ErrCantCreateObject:
        return QStringLiteral("オブジェクトを作成できません。");
    case ErrInvalidPicture:
        return QStringLiteral("ピクチャが不正です。");
    case ErrCancel:
        return QStringLiteral("[キャンセル] が選択されました。");
    case ErrApplicationDefined:
    default:
        return QStringLiteral("アプリケーション定義またはオブジェクト定義のエラーです。");
    }
}

void End(int status)
{
    throw ProgramEnd{status};
}

void setHost(Host host)
{
    g_host = std::move(host);
}

void guard(const std::function<void()> &handler)
{
    if (g_ended)
        return;
    ++g_guardDepth;
    try {
        handler();
    } catch (const ProgramEnd &e) {
        requestEnd(e.status);
    } catch (const RuntimeError &e) {
        if (g_host.reportUnhandled)
            g_host.reportUnhandled(e.text());
        requestEnd(1);
    } catch (const std::bad_alloc &) {
        if (g_host.reportUnhandled)
            g_host.reportUnhandled(RuntimeError::standardText(ErrOutOfMemory));
        requestEnd(1);
    } catch (const std::exception &e) {
        if (g_host.reportUnhandled)
            g_host.reportUnhandled(QString::fromUtf8(e.what()));
        requestEnd(1);
    } catch (...) {
        // Thrown by code that is not ours: it has nothing to say, but must not reach Qt.
        if (g_host.reportUnhandled)
            g_host.reportUnhandled(RuntimeError::standardText(ErrApplicationDefined));
        requestEnd(1);
    }
    --g_guardDepth;
}

bool ended()
{
    return g_ended;
}
int endStatus()
{
    return g_endStatus;
}

void checkpoint()
{
    if (g_ended && g_guardDepth > 0)
        throw ProgramEnd{g_endStatus};
}

void resetEnd()
{
    g_ended = false;
    g_endStatus = 0;
}

int16_t cint16(int64_t v)
{
    if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
        throw RuntimeError(ErrOverflow);
    return int16_t(v);
}

int32_t cint32(int64_t v)
{
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw RuntimeError(ErrOverflow);
    return int32_t(v);
}

int16_t mul16(int16_t a, int16_t b)
{
    return cint16(int64_t(a) * b);
}
int32_t mul32(int32_t a, int32_t b)
{
    return cint32(int64_t(a) * b);
}
int32_t idiv32(int32_t a, int32_t b)
{
    if (b == 0)
        throw RuntimeError(ErrDivisionByZero);
    return cint32(int64_t(a) / b);
}

namespace
{
double roundHalfEven(double v)
{
    if (!std::isfinite(v))
        throw RuntimeError(ErrOverflow);
    // nearbyint follows the current rounding mode; make it explicit.
    const int old = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(old);
    return r;
}
} // namespace

int32_t roundToInt32(double v)
{
    const double r = roundHalfEven(v);
    if (r < -2147483648.0 || r > 2147483647.0)
        throw RuntimeError(ErrOverflow);
    return int32_t(r);
}

double quotient(double a, double b)
{
    if (b == 0.0)
        throw RuntimeError(a == 0.0 || std::isnan(a) ? ErrOverflow : ErrDivisionByZero);
    const double r = a / b;
    if (!std::isfinite(r))
        throw RuntimeError(ErrOverflow);
    return r;
}

int twipsToPixels(double twips)
{
    return roundToInt32(twips / TwipsPerPixel);
}

} // namespace rt
