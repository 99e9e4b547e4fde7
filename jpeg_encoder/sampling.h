#pragma once
// Whether a picture's colour keeps its full resolution.

#include "jpeg_encoder/quantizer.h"

#include <QImage>

namespace jpeg_encoder
{

// How much this picture's colour is worth its full resolution at this quality.
// Halving it both ways drops the finer half of the colour frequencies; where
// the quantiser would keep them (coloured text, sharp edges between flat
// colours) they may be worth the three more colour blocks every 16x16 pixels
// cost, which is the whole price where they are not (smooth photos). Some of
// the blocks, spread evenly, tell that well enough; blocks without
// colour detail between neighbouring pixels are passed over, as nothing fine
// there would survive quantisation.
// cb, cr: the quantisers of the colour components at the quality asked for.
// The answer: what the colour detail is worth against what the whole
// colour costs; above 1, keep it whole.
double colourDetailWorth(const QImage &picture, const BlockQuantizer &cb, const BlockQuantizer &cr);

} // namespace jpeg_encoder
