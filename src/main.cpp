#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("halvorin"));
    QApplication::setApplicationName(QStringLiteral("Quillbay"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quillbay"));
    window.setMinimumSize(900, 600);
    window.show();
    return app.exec();
}
