#pragma once
// The area selector: a frozen screenshot of the whole X screen, shown by one
// full-screen window per monitor, on which the user drags the rectangle to
// record, on any monitor. Enter (a global hot key while the selector shows)
// stores it as the capture region, Escape closes without storing. The
// picture's pixels are X screen pixels, and one picture pixel is one device
// pixel at every scale factor. UI thread only.
//
// A window per monitor rather than one over the whole screen: window
// managers make a window full screen on one monitor only (above the
// desktop's panels), and Qt paints each window at its own screen's scale.

#include <QAbstractNativeEventFilter>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "overlays/SelectionGeometry.h"
#include "overlays/SelectionLabels.h"
#include "platform/x11/Desktop.h"

class QKeyEvent;

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

class SelectorWindow;

class AreaSelector : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT

  public:
    explicit AreaSelector(AreaSelectorLinks links);
    ~AreaSelector() override;

    // Takes a new screenshot of the X screen and shows it over every monitor.
    // Where the desktop first asks the user whether to share the screen, it
    // returns at once and opens when the question is answered.
    void ShowAreaSelector();
    // The desktop's sharing question for the picture is open.
    bool IsAsking() const { return asking_; }
    // Stores the rectangle as the capture region, saves the settings and
    // closes the selector.
    void AcceptSelection();
    // Closes the selector without storing: the region stays as it was.
    void CloseSelector();
    bool IsShowing() const { return showing_; }
    // Whether one of its windows has the keyboard.
    bool IsActive() const;
    // Releases both pictures; the next opening makes new ones.
    void FreeBitmaps();
    // The words of the size labels in the language shown (TextMsg14..17);
    // English for any the language leaves out.
    static SelectionWords LabelWords();

    // The frozen picture of the whole X screen, and the picture with the
    // selection drawn over it that the windows show.
    QImage ScreenShot;
    QImage WorkBitmap;

    // In X screen pixels; Left <= Right, Top <= Bottom. Already raised to
    // the smallest size: what Enter stores.
    TRect SelRect;
    QPoint Anchor;
    bool Dragging = false;
    bool HasRect = false;

    // The hot keys' identifiers: X atoms named "RectScr_Escape" and
    // "RectScr_Enter".
    int EscapeHotKey() const { return escapeAtom_; }
    int EnterHotKey() const { return enterAtom_; }

    // The windows, one per monitor, of the last opening.
    std::vector<SelectorWindow*> Windows() const;
    // The monitors the selector covers, in X screen pixels.
    std::vector<QRect> Monitors() const;
    // The device pixel ratio its texts and magnifier are drawn for.
    qreal Scale() const { return scale_; }

  private:
    // The X server's own pointer events for the windows, in screen pixels.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    void SetUpCanvas();
    void ShowWindows();
    void StartSelecting();
    void StopSelecting();
    void ForgetHotKeys();
    void ButtonPressed(QPoint at);
    void PointerMoved(QPoint at);
    void ButtonReleased();
    bool KeyPressed(QKeyEvent* event);
    void RedrawSelection();
    QPoint Mouse() const;
    void UnregisterHotKeys();
    // Grabs the whole screen into ScreenShot and ends the desktop's use.
    bool TakeScreenShot(platform::Desktop& screen);
    void AwaitScreen(std::shared_ptr<platform::Desktop> screen);
    void OpenOnPicture();
    // A screen pixel kept on the picture.
    QPoint PicturePixel(QPoint screenPixel) const;

    AreaSelectorLinks links_;
    // Expires with the selector: an answer from the desktop that comes
    // later finds none to open.
    std::shared_ptr<AreaSelector*> alive_ = std::make_shared<AreaSelector*>(this);
    bool asking_ = false;  // the desktop's sharing question is open
    std::vector<std::unique_ptr<SelectorWindow>> windows_;
    bool showing_ = false;
    qreal scale_ = 1.0;
    int xinputOpcode_ = 0;
    // The X events reach the filter: Qt's rounded mouse events are not used.
    bool nativePointer_ = false;
    // Where the windows last saw the pointer (Wayland tells nothing else).
    std::optional<QPoint> seenPointer_;
    int escapeAtom_ = 0;
    int enterAtom_ = 0;
    // WorkBitmap's canvas: set once, as the drawing attributes of a GDI
    // canvas would be.
    QFont font_;
    QColor textColor_;
    QColor penColor_;
    int penWidth_ = 2;
};

}  // namespace velmora
