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
