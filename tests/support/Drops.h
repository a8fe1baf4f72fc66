#pragma once

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <memory>

// What a drag carries: files, picture data, or both.
inline std::unique_ptr<QMimeData> dragData(QStringList const& files, QImage const& image = {})
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (QString const& file : files)
        urls << QUrl::fromLocalFile(file);
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (!image.isNull())
        data->setImageData(image);
    return data;
}

// Drags the data over the widget and drops it there, through Qt's event
// dispatch as a drag from another application would. Returns whether the
// widget accepted the drag when it entered.
inline bool dropOn(QWidget* widget, QMimeData const& data)
{
    QPointF const at(widget->width() / 2.0, widget->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return true;
}
