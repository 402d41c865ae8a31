#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream(stderr) << "Quorvale: the window is not built yet; the client core is available to the tests.\n";
    return 0;
}
