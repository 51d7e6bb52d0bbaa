#pragma once
// The button faces both skinned dialogs share.
#include "platform/skin/ImageButtonX.h"

// The rounded button with its caption drawn on it: dark text at rest, white
// under the mouse and while pressed.
void SkinCaptionButton(CImageButtonX& button);
// The close mark in the top right corner, without text.
void SkinCloseMark(CImageButtonX& button);
