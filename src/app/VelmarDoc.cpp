#include "VelmarDoc.h"

#include <QPainter>
#include <QSvgRenderer>

namespace {
// In the order of the image indices.
const char* const kSmallImages[IMG_COUNT] = {
    ":/icons/drive.svg",           ":/icons/local-folder.svg",
    ":/icons/local-file.svg",      ":/icons/local-folder-open.svg",
    ":/icons/ftp-folder.svg",      ":/icons/ftp-file.svg",
    ":/icons/ftp-folder-open.svg", ":/icons/local-computer.svg",
    ":/icons/ftp-root.svg",
};
const char* const kDragImages[2] = {":/icons/drag-local.svg", ":/icons/drag-ftp.svg"};

QPixmap Render(const QString& resource, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}

// The icon of resource with the link mark drawn over it.
QIcon WithLinkMark(const QString& resource) {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap = Render(resource, size);
        QPainter painter(&pixmap);
        QSvgRenderer(QStringLiteral(":/icons/link-overlay.svg")).render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

CVelmarDoc::CVelmarDoc() {
    for (const char* resource : kSmallImages) {
        m_smallImageList.append(QIcon(QString::fromLatin1(resource)));
        m_linkImageList.append(WithLinkMark(QString::fromLatin1(resource)));
    }
    for (const char* resource : kDragImages)
        m_dragImageList.append(Render(QString::fromLatin1(resource), 32));
}

CVelmarDoc::~CVelmarDoc() = default;

QIcon CVelmarDoc::SmallIcon(int index) const {
    if (index < 0 || index >= m_smallImageList.size())
        return QIcon();
    return m_smallImageList.at(index);
}

QIcon CVelmarDoc::LinkIcon(int index) const {
    if (index < 0 || index >= m_linkImageList.size())
        return QIcon();
    return m_linkImageList.at(index);
}

QIcon CVelmarDoc::AppIcon() {
    return QIcon(QStringLiteral(":/icons/velmar98.svg"));
}
