#pragma once
// The geometry of the skin widgets, kept free of windows so it can be tested:
// how a picture covers a window, where a button face goes, how far a bar fills.
#include <windows.h>

#include <vector>

// One piece of a picture along one axis: source [nSrc, nSrc + nSrcLen) is drawn
// to destination [nDst, nDst + nDstLen) (stretched when the lengths differ).
struct SkinSpan {
    int nSrc;
    int nSrcLen;
    int nDst;
    int nDstLen;
};

enum SkinImageType {
    kSkinStretch = 1,    // the picture stretched over the whole target
    kSkinSplitEdges = 2  // 1:1 with the halves anchored at both ends; a longer target repeats the
                         // middle line, a shorter one drops middle lines (borders and bands stay crisp)
};

// Spans that cover a target of nTarget pixels with a picture of nImage pixels.
// Empty when either length is not positive.
std::vector<SkinSpan> SkinAxisSpans(int nImageType, int nImage, int nTarget);

// Where a face of cxImage x cyImage goes in a box of cxBox x cyBox: centred at
// 1:1, or scaled down (keeping its shape) when it is larger than the box by
// more than kSkinFitTolerance pixels in either direction.
const int kSkinFitTolerance = 2;
RECT SkinFitImage(int cxImage, int cyImage, int cxBox, int cyBox);

// Filled width of a bar nWidth pixels wide at nPos in [nLower, nUpper]:
// the position is clamped; an empty or reversed range fills nothing.
int SkinFillWidth(int nLower, int nUpper, int nPos, int nWidth);

// The pieces of a progress fill nFill pixels wide made of a left end, a tiled
// middle and a right end. A fill narrower than both ends shows the outer
// parts of each end, so it stays rounded.
struct SkinFillPiece {
    enum Part { kLeft, kMiddle, kRight } part;
    int nSrcX;   // within the part's bitmap
    int nDstX;   // within the bar
    int nWidth;
};
std::vector<SkinFillPiece> SkinFillPieces(int nFill, int cxLeft, int cxMiddle, int cxRight);

// Display scale. Every length of a skinned window is designed at 96 DPI
// (100 %); at another DPI it is scaled and rounded half up, the rule by which
// tools/draw_artwork.py draws the images at 125, 150, 175 and 200 %, so a
// control and the image drawn for it keep the same size.
const UINT kSkinDesignDpi = 96;

// n design pixels at nDpi.
int SkinScale(int n, UINT nDpi);
// A design rectangle at nDpi: its x, y, width and height each scaled (as the
// dialog manager maps a template), so that its size is that of the images
// drawn for the scale.
RECT SkinScaleRect(const RECT& rc, UINT nDpi);

// Where a skinned window puts its controls at one DPI, in client pixels.
struct SkinControlPlace {
    int nId;   // the control's id, -1 for a static without one
    RECT rc;
};
struct SkinWindowLayout {
    SIZE size = {0, 0};                     // the window (a skinned window has no frame)
    int nFontHeight = 0;                    // the dialog font's character height
    std::vector<SkinControlPlace> controls; // every child, in creation (template) order
};
