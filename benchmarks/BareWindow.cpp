// The yardstick of the start-up measurement: the least a Qt Widgets program does to map a window
// of the main window's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(600, 500);
    window.show();
    return QApplication::exec();
}
