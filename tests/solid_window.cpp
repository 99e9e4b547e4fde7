// A window of one colour for the tests, on whatever platform it is started
// with (a native Wayland window in the Wayland tests). Says "press" on
// standard output for each button press it gets.
#include <QApplication>
#include <QWidget>

#include <cstdio>

namespace
{
class Solid : public QWidget
{
protected:
    void mousePressEvent(QMouseEvent *) override
    {
        std::puts("press");
        std::fflush(stdout);
    }
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Solid window;
    window.setWindowTitle(QStringLiteral("solid"));
    window.setAutoFillBackground(true);
    QPalette p = window.palette();
    p.setColor(QPalette::Window, QColor(argc > 1 ? argv[1] : "#20c040"));
    window.setPalette(p);
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
