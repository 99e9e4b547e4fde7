#pragma once
// The small run-time the handlers are written against: numbered run-time
// errors, the end of the program, the guard around every outermost event
// handler, checked integer arithmetic, banker's rounding and twips.

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>

namespace rt
{

// Error numbers as the handlers and their traps know them.
enum ErrorNumber : int {
    ErrInvalidCall = 5,
    ErrOverflow = 6,
    ErrOutOfMemory = 7,
    ErrDivisionByZero = 11,
    ErrFileNotFound = 53,
    ErrInvalidFileFormat = 321,
    ErrCantCreateObject = 429,
    ErrApplicationDefined = 1004,
    ErrInvalidPicture = 481,
    ErrCancel = 32755,
};

class RuntimeError : public std::exception
{
public:
    RuntimeError(int number, QString text);
    // The standard text for one of the numbers above.
    explicit RuntimeError(int number);

    int number() const { return number_; }
    const QString &text() const { return text_; }
    const char *what() const noexcept override { return utf8_.c_str(); }

    static QString standardText(int number);

private:
    int number_;
    QString text_;
    std::string utf8_;
};

// Thrown by End: unwinds to the outermost guard. Never caught by an error
// trap, which catches RuntimeError only.
struct ProgramEnd {
    int status = 0;
};

[[noreturn]] void End(int status = 0);

// The run-time's single point of contact with the outside world.
struct Host {
    // Shows the default handler's message box (text, application title).
    std::function<void(const QString &text)> reportUnhandled;
    // Leaves the event loop with the status (the program then exits).
    std::function<void(int status)> quit;
};
void setHost(Host host);

// Runs an outermost event handler. A RuntimeError that escapes it is shown
// and ends the program; End ends it quietly. After the end was requested no
// further handler runs. Never lets an exception into Qt.
void guard(const std::function<void()> &handler);

// True once the program was ended; status is the exit status.
bool ended();
int endStatus();
// For code that resumes after a nested event loop: stops it if a handler in
// that loop ended the program.
void checkpoint();
// Test support: forget an earlier end.
void resetEnd();

// Checked integer arithmetic: results outside the type raise ErrOverflow.
int16_t cint16(int64_t v);
int32_t cint32(int64_t v);
int16_t mul16(int16_t a, int16_t b);
int32_t mul32(int32_t a, int32_t b);
// Integer division discarding the remainder; ErrDivisionByZero for b = 0.
int32_t idiv32(int32_t a, int32_t b);
// Floating value to integer, nearest, halves to even; ErrOverflow when out of range.
int32_t roundToInt32(double v);
// Floating division raising the run-time's errors instead of giving inf or NaN.
double quotient(double a, double b);

// Twips: 15 to a device-independent pixel.
inline constexpr int TwipsPerPixel = 15;
int twipsToPixels(double twips);
inline float pixelsToTwips(int px)
{
    return float(px) * TwipsPerPixel;
}

} // namespace rt
