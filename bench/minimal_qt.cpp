// The baseline of the start-up benchmark: a Qt Widgets program that shows
// one empty window and, like the real program, reports its first paint.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace
{
class Window : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        if (reported_ || !qEnvironmentVariableIsSet("MIPOQUIBBO_REPORT_FIRST_PAINT"))
            return;
        reported_ = true;
        QTimer::singleShot(0, [] {
            std::puts("painted");
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    }

private:
    bool reported_ = false;
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Window w;
    w.resize(457, 264);
    w.show();
    return QApplication::exec();
}
