// The least a Qt Widgets program costs here: an application object and one
// empty window of the main window's size, nothing else. Start-up time and
// resident memory of the utility are read against it.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.resize(785, 552);
    window.show();
    return app.exec();
}
