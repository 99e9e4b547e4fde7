// A window of one colour for the tests, on whatever platform it is started
// with (a native Wayland window in the Wayland tests). Says "press" on
// standard output for each button press it gets. With "striped" after the
// colour, a white stripe crosses it: a window that has drawn something; with
// "covering", it covers the screen.
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cstdio>
#include <string>

namespace
{
class Solid : public QWidget
{
public:
    bool striped = false;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (striped)
            QPainter(this).fillRect(0, height() / 3, width(), height() / 3, Qt::white);
    }
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
    window.striped = argc > 2 && std::string(argv[2]) == "striped";
    // "covering": the whole screen, beneath what comes later.
    if (argc > 2 && std::string(argv[2]) == "covering")
        window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    else
        window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
