/*
** The main window's banner: a static control that paints its own text, white
** on the banner blue, in the bold banner font.
*/
#ifndef CLEANPHANTAXIS_BANNER_LABEL_H
#define CLEANPHANTAXIS_BANNER_LABEL_H

#include "ui/framework.h"

#include <string>

/* Background colour of the banner's text (0x00BBGGRR: red 2, green 77, blue 246). */
#define BANNER_BACK_COLOR 0xF64D02u

class BannerLabel : public Static {
  public:
    COLORREF TextColor() const { return textColor_; }

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void Paint();

    COLORREF textColor_ = 0xFFFFFF; // white; nothing changes it
    std::string text_;              // refreshed at every paint
    RECT client_ = {0, 0, 0, 0};    // refreshed at every paint
};

#endif
