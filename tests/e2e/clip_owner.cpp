// Stands in for a file manager that has copied files: owns the X clipboard with
// the given files as text/uri-list (and GNOME's form) until it is stopped.
// usage: velmar_clip_owner PATH...
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (int i = 1; i < argc; ++i) {
        const QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
        urls.append(url);
        gnome += '\n' + url.toEncoded();
    }
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    mime->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    QGuiApplication::clipboard()->setMimeData(mime);
    // Told on standard output once the clipboard is ours, for the test to go on.
    std::printf("owner\n");
    std::fflush(stdout);
    return QApplication::exec();
}
