#pragma once
// The area selector: a frozen screenshot of the primary monitor in a
// borderless full-screen window, on which the user drags the rectangle to
// record. Enter (a global hot key while the selector shows) stores it as the
// capture region, Escape closes without storing. One picture pixel is one
// screen pixel at every scale factor. UI thread only.

#include <QAbstractNativeEventFilter>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <functional>

#include "overlays/SelectionGeometry.h"
#include "platform/x11/Desktop.h"

namespace velmora {

class AreaPanel;

// What the selector needs of the main window, which owns the hot keys, the
// recording engine and the settings file.
struct AreaSelectorLinks {
    // Global hot keys on the main window: its handler calls AcceptSelection
    // for Enter and closes the selector for Escape.
    std::function<bool(int id, int virtualKey)> RegisterHotKey;
    std::function<bool(int id)> UnregisterHotKey;
    // The pointer in X screen pixels (the engine's QueryForeignCursor).
    std::function<platform::ForeignCursor()> QueryForeignCursor;
    // Enter has stored a rectangle, before the settings are written: the
    // capture mode becomes Specific Area only then, so that Escape leaves
    // the mode as it was.
    std::function<void()> Accepted;
    // Writes all settings to the settings file.
    std::function<bool()> SaveSettings;
    // The companion panel whose edits show the region.
    AreaPanel* Panel = nullptr;
};

class AreaSelector : public QWidget, private QAbstractNativeEventFilter {
    Q_OBJECT

  public:
    explicit AreaSelector(AreaSelectorLinks links);
    ~AreaSelector() override;

    // Takes a new screenshot of the primary monitor and shows it full screen.
    void ShowAreaSelector();
    // Stores the rectangle as the capture region, saves the settings and
    // closes the selector.
    void AcceptSelection();
    // Releases both pictures; the next opening makes new ones.
    void FreeBitmaps();
    // The words of the size labels in the language shown (TextMsg14..17);
    // English for any the language leaves out.
    static SelectionWords LabelWords();

    // The frozen picture, and the picture with the selection drawn over it
    // that the window shows; both in screen pixels.
    QImage ScreenShot;
    QImage WorkBitmap;

    // In the picture's pixels; Left <= Right, Top <= Bottom.
    TRect SelRect;
    QPoint Anchor;
    bool Dragging = false;
    bool HasRect = false;

    // The hot keys' identifiers: X atoms named "RectScr_Escape" and
    // "RectScr_Enter".
    int EscapeHotKey() const { return escapeAtom_; }
    int EnterHotKey() const { return enterAtom_; }

    // The primary monitor in X screen pixels: what the picture covers.
    QRect ScreenArea() const { return screenArea_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The X server's own pointer events for this window, in screen pixels.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    void SetUpCanvas();
    void StartSelecting();
    void StopSelecting();
    void ForgetHotKeys();
    void ButtonPressed(QPoint at);
    void PointerMoved(QPoint at);
    void ButtonReleased();
    void RedrawSelection();
    void UnregisterHotKeys();
    bool TakeScreenShot();
    // A screen pixel as a pixel of the picture, kept on the picture.
    QPoint PicturePixel(QPoint screenPixel) const;
    // Where Qt's events are all there is (no X server): a global position
    // in Qt's logical coordinates as a pixel of the picture.
    QPoint PicturePixel(QPointF global) const;

    AreaSelectorLinks links_;
    int xinputOpcode_ = 0;
    // The X events reach the filter: Qt's rounded mouse events are not used.
    bool nativePointer_ = false;
    int escapeAtom_ = 0;
    int enterAtom_ = 0;
    QRect screenArea_;
    // WorkBitmap's canvas: set once, as the drawing attributes of a GDI
    // canvas would be.
    QFont font_;
    QColor textColor_;
    QColor penColor_;
    int penWidth_ = 2;
};

}  // namespace velmora
