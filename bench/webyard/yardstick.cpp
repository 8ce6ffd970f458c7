// The web engine's memory yardstick: the least program that shows a page in
// the engine, a bare QWebEngineView at the main window pane's size showing
// the local page given as its argument (the default theme's offline page).
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(284, 98);
    if (argc > 1) view.setUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    view.show();
    return app.exec();
}
