#pragma once
// The 48 sprite frames: drawing, derivation of mirrors and silhouettes, and the
// extent every colour frame must keep (the animation places sprites by these).
#include "PixelCanvas.h"

#include <QRect>
#include <QString>

#include <array>

namespace hakop::art {

constexpr int FrameCount = 48;

// The non-key bounding box a colour frame must have, or a null rect for the
// derived frames (silhouettes) whose extent follows from their source.
QRect requiredExtent(int image);

// All 48 frames, index 0 = Image1. If a drawn frame drifts from its required
// extent or loses its key-colour corner this throws std::runtime_error, unless
// `strict` is off (drafting art), when it only warns.
std::array<PixelCanvas, FrameCount> drawFrames(bool strict = true);

// Writes OUTDIR/frames/Image1.png .. Image48.png as 16-colour palette PNGs.
// Returns an empty string on success, else what went wrong.
QString writeFrames(const QString& outDir, bool strict = true);

} // namespace hakop::art
