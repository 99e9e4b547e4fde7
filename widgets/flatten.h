#pragma once
// Pictures as picture boxes keep them and Save writes them.

#include <QColor>
#include <QImage>

// The picture as 32-bit pixels, its transparent parts laid on the background.
// One that is already so is shared, not copied. Its colour profile and
// metadata stay with it.
QImage flattenOnto(const QImage &picture, const QColor &background);
