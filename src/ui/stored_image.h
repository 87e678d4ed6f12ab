// Reading a picture stored in a backup, for the window's thumbnails and previews: the file is
// opened as every reader of the backup opens it (no link inside the backup is followed, only
// a regular file is read) and decoded at no more than the size asked for.
#pragma once

#include <QImage>
#include <QSize>
#include <string>

// The picture at `path` inside `backupFolder` ("" for a file that is not the backup's),
// scaled to fit `box`; a null image when it cannot be opened or is no picture Qt reads.
QImage readStoredImage(const std::string& backupFolder, const std::string& path, QSize box);
