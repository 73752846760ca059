/*
** Bitmap buttons: owner-drawn push buttons whose whole face is a bitmap named
** after the button's caption ("<caption>_FOCUS", "_NOTFOCUS", "_DISABLE").
** `CExButton` serves the main window and shows a hand cursor; `NCExButton`
** serves the question dialog and keeps the arrow.
*/
#ifndef CLEANPHANTAXIS_BITMAP_BUTTONS_H
#define CLEANPHANTAXIS_BITMAP_BUTTONS_H

#include "ui/framework.h"

/* What both button classes hold and do: the three pictures, the hover state
   and the hover rectangle, and the drawing and mouse rules. */
class ButtonFace {
  public:
    /* Loads the pictures named by the button's caption and sizes the button
       to the not-focus picture. False when the caption is empty, a required
       picture is missing or the button cannot be resized. */
    bool Attach(HWND button);
    /* Draws the picture for the item's state; nothing when it is missing. */
    void Draw(const DRAWITEMSTRUCT* item) const;
    /* Mouse move at a client position: hover, focus and capture rules. */
    void MouseMove(HWND button, int x, int y);
    void FocusChanged(HWND button, bool gained);

    bool Hover() const { return hoverFlag_; }

  private:
    void DeleteBitmaps();

    GdiObject<HBITMAP> focus_;
    GdiObject<HBITMAP> notFocus_;
    GdiObject<HBITMAP> disabled_; // optional
    BOOL hoverFlag_ = FALSE;
    RECT hoverRect_ = {0, 0, 0, 0};
};

/* A push button drawn with a face: what both button classes share. */
class FaceButton : public Button {
  public:
    /* Binds the button to dialog item `id` of `dialog` when it is not bound
       yet, then gives it its pictures. */
    bool AttachBitmaps(int id, HWND dialog) {
        if (!IsBound() && !SubclassDlgItem(id, dialog)) return false;
        return face_.Attach(Handle());
    }
    bool DrawItem(const DRAWITEMSTRUCT* item) override;

  protected:
    /* Hover and focus follow the mouse; everything else gets the default. */
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    ButtonFace face_;
};

/* The main window's buttons: the pictures and a hand cursor. */
class CExButton : public FaceButton {
  public:
    CExButton() = default;
    ~CExButton() override;

    /* Takes the hand cursor from the system's help program, once. */
    void LoadHandCursor();
    bool HasHandCursor() const { return handCursor_ != nullptr; }

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    HCURSOR handCursor_ = nullptr;
};

/* The question dialog's buttons: the pictures, the arrow cursor. */
class NCExButton : public FaceButton {};

#endif
