// The images of the window's buttons, drawn here rather than shipped: each name the window
// uses ("recoveritunesbackupNom.png", "startscanDown.png", …) gives a picture of its state
// (normal, hover/down) at the screen's pixel ratio, so the buttons stay sharp on high-DPI
// screens without a file per size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The image called `name`, `size` in device-independent pixels at `pixelRatio`. An unknown
// name gives a plain button face.
QPixmap buttonImage(const QString& name, QSize size, qreal pixelRatio);

// The application's icon (the picture of resources/retrievo.svg), drawn at the usual sizes.
QIcon applicationIcon();
