#pragma once

// Pictures of single cells written to files, without a window: the naming of
// the files and the render-and-write step, shared by warpix-render and the
// window's export key.
#include "render/MeshRasterizer.h"
#include "support/ZelString.h"

class Warpixator;

/// The module name made usable as a file name: every character outside
/// [A-Za-z0-9._-] becomes '_'.
ZelString SanitizeFileName(const ZelString& name);

/// dirOrPrefix (used as it is: pass "dir/" for a folder), the cell index as at
/// least two digits, '_', the sanitised module name, "_<frame as at least five
/// digits>" when frame >= 0, '.', extension. E.g. "out/03_MLSRigid_00012.png".
ZelString CellFileName(const ZelString& dirOrPrefix, int cellIndex, const ZelString& moduleName,
                       const char* extension, int frame = -1);

/// Brings the deformator's mesh up to date with its targets, exactly as a
/// redraw of the window does (Draw with no canvas): runs the Deform that a
/// coalescing Deform skipped and, in mesh mode, maps the mesh vertices.
void PrepareCellForRender(Warpixator& deformator);

/// Prepares the deformator (see above), renders its cell at width x height
/// over background and writes it to path, the format chosen by the path's
/// extension (.png keeps alpha and is compressed as png asks; .ppm is written
/// as binary P6). rasterizer, when given, must have been built for this
/// deformator and saves rebuilding its texture for every frame (default: a new
/// one). False when the render or the write fails; nothing is printed here
/// (the image writers may report on standard error), so the caller words the
/// message.
bool WriteCellImage(Warpixator& deformator, int width, int height,
                    const MeshRasterizer::Background& background, const char* path,
                    MeshRasterizer* rasterizer = nullptr,
                    R2Image::PngCompression png = R2Image::PngCompression::kFast);

/// Writes image to path, the format chosen by the extension as above.
bool WriteRenderedImage(const R2Image& image, const char* path,
                        R2Image::PngCompression png = R2Image::PngCompression::kFast);
