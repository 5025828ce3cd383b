#pragma once
// The native window of one of our top-level windows: its menu bar above a canvas that shows
// the window's client area and carries its mouse and keyboard input.

#include "platform/host.h"

#include <QWidget>

#include <map>
#include <optional>
#include <utility>

class CMenu;
class QAction;
class QMenu;
class QMenuBar;
class QtCanvas;

class QtTopLevel : public QWidget {
public:
    // `menuBarHeight` is the height a menu bar takes on this desktop.
    QtTopLevel(CWnd* window, int menuBarHeight);

    CWnd* Window() const { return m_window; }
    QtCanvas* Canvas() const { return m_canvas; }
    QMenuBar* MenuBar() const { return m_menuBar; }

    // Puts the native window where our window's outer rectangle says.
    void ApplyGeometry();
    void ApplyStyle();
    void RebuildMenu();
    void UpdateMenuItem(CMenu* popup, int position);
    // Makes the items of one popup anew, also while it is opening.
    void RebuildPopup(CMenu* popup);
    // The frame (caption and borders) the desktop puts around the widget when it has a
    // caption, also while it has none; before the window is first shown, the frame the window
    // manager says it will give.
    FrameInsets WindowFrame();
    // Tells the layer where the desktop has put the window and how wide its frame is, so that
    // the client area it computes stays the canvas.
    void FollowDesktop();

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void AddItems(QMenu* menu, CMenu& model);
    void AddItems(QMenuBar* bar, CMenu& model);
    QAction* MakeAction(CMenu& model, int position, QWidget* parent);
    static QAction* MakeItemAction(const QString& text, QWidget* parent);
    static void ShowCheck(QAction* action, bool checked);
    FrameInsets CurrentFrame() const;
    // The frame the window manager says it has put around the window, in Qt's pixels.
    void FrameAnnounced(FrameInsets frame);
    // The frame as it turned out, for a window placed with another one.
    void FrameKnown(const FrameInsets& frame);
    // Where the window manager tells no frame, the frame is measured once the window is shown.
    void MeasureFrameOnceMapped();
    // Moves the window, framed as it turned out to be, so that its centre stays where it was
    // placed with the frame it was guessed to have, within the work area.
    void CentreWithFrame(const FrameInsets& guessed, const FrameInsets& frame);
    void MoveClientTo(QPoint place);
    FrameInsets InQtPixels(const FrameInsets& native) const;
    void PostSync();
    // Brings the native window's flags and rectangle in line with the layer.
    void SyncNative();
    void SyncGeometry();
    void SetNativeFlags(Qt::WindowFlags flags);

    CWnd* m_window;
    int m_menuBarHeight;
    QMenuBar* m_menuBar;
    QtCanvas* m_canvas;
    std::map<std::pair<CMenu*, int>, QAction*> m_actions;
    std::map<CMenu*, QMenu*> m_popups;
    FrameInsets m_frame; // the last frame the desktop gave a captioned window
    bool m_frameAsked = false;
    // The frame the window was placed and centred with, until the real one is known: a window
    // manager may not tell its frame before it shows the window (KWin, awesome, at times mutter
    // and fvwm3), and some never tell it (i3, bspwm).
    std::optional<FrameInsets> m_guessedFrame;
    // Where the client area was placed before the window was shown.
    QPoint m_placedClient;
    // Where the client area belongs while the window manager frames the bare rack again: some
    // put their frame's corner there instead of around it, whatever the window's gravity.
    std::optional<QPoint> m_clientPlace;
    // A window manager that kept its frame on the bare rack (fvwm3) tells no frame when the bars
    // come back, and may leave the window where it was: m_clientPlace is asked for again as soon
    // as the window turns out to be elsewhere.
    bool m_clientPlaceOnReport = false;
    // The bare rack kept a frame, as last seen while it was bare.
    bool m_bareFramed = false;
    // The border a window manager without frame windows (bspwm) gives the window itself.
    int m_border = 0;
    bool m_applying = false;
    bool m_syncPosted = false;
    std::optional<Qt::WindowFlags> m_pendingFlags;
    bool m_frameless = false;
};
