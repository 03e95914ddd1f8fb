// The confirmation window's painting: the skins it loads when it opens, the background, the
// row panel and the owner-drawn buttons; and the buttons' focus, press and key handling.
// Presenters that show the dialog on a screen or in an image build one view per showing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/paint.h"
#include "platform/window.h"
#include "ui/ConfirmLayout.h"
#include "ui/ConfirmPresenter.h"

namespace kdx {

// Owner-drawn item states.
inline constexpr UINT ODS_SELECTED = 0x1;
inline constexpr UINT ODS_FOCUS = 0x10;

inline constexpr COLORREF kConfirmPanelColour = RGB(254, 253, 232);
inline constexpr COLORREF kConfirmSeparatorColour = RGB(209, 208, 190);
// What shows where no skin paints: the dialog face colour.
inline constexpr COLORREF kDialogFaceColour = RGB(240, 240, 240);

class ConfirmView {
 public:
  explicit ConfirmView(ConfirmRequest request);

  // Loads the skins and makes the brushes, the bottom bitmap, the separator pen and the row
  // font. Missing skins leave their brush empty: that area is not painted.
  void OnInitDialog();
  // Paints the client area into `dc`; the first call also marks the window laid out.
  void OnPaint(CDC& dc);
  // Draws button `id` (IDOK or IDCANCEL) into `dc`, whose origin is the button's top-left.
  void OnDrawItem(CDC& dc, int id, UINT state);

  bool IsLaidOut() const { return m_bLaidOut != 0; }
  const ConfirmLayout& Layout() const { return m_layout; }
  const CString& Title() const { return m_request.title; }
  // Which skin files loaded, by file name (tests and diagnostics).
  const std::vector<std::string>& LoadedSkins() const { return m_loaded; }

 private:
  bool LoadSkin(const char* name, CBrush& brush);

  ConfirmRequest m_request;
  ConfirmLayout m_layout;
  int32_t m_bLaidOut = 0;
  CBrush m_brTop, m_brMiddle, m_brBottom;
  CBrush m_brOkUp, m_brOkDown, m_brCancelUp, m_brCancelDown;
  CBitmap m_bmpBottom;
  CDC m_dcMemory;
  CPen m_penSeparator;
  CFont m_fontRow;
  std::vector<std::string> m_loaded;
};

struct DialogButton {
  int id;
  ConfirmRect rect;  // client coordinates
};

// The buttons' behaviour: a click (press and release on the same button) or Space on the
// focused one answers its id; Tab and Shift+Tab move the focus; Enter is swallowed; Escape
// and closing the window answer `cancelResult` (ignored when 0). A lost display answers
// `lostResult`.
class DialogInput {
 public:
  DialogInput(std::vector<DialogButton> buttons, int cancelResult, int lostResult);
  // The answer, once the event gives one.
  std::optional<int> OnEvent(const WindowEvent& event);
  // ODS_FOCUS and ODS_SELECTED as they apply to button `id`.
  UINT StateOf(int id) const;
  const std::vector<DialogButton>& Buttons() const { return buttons_; }

 private:
  int ButtonAt(int x, int y) const;

  std::vector<DialogButton> buttons_;
  int cancelResult_;
  int lostResult_;
  std::size_t focus_ = 0;   // index into buttons_
  int pressed_ = 0;         // the id held down by the mouse or Space, 0 when none
  bool pressedByKey_ = false;
};

// The client area as the window shows it: the face colour, the dialog's paint, then each
// button drawn in its own origin with its state.
void PaintConfirmClient(ConfirmView& view, const DialogInput& input, CBitmap& out);

// The whole window as an image: a frame with the title as caption around the client area,
// the ORDER button focused.
bool RenderConfirmDialog(const ConfirmRequest& request, CBitmap& out);
bool RenderConfirmDialogPng(const ConfirmRequest& request, const std::string& path);

// The dialog's buttons and what Escape answers.
DialogInput MakeConfirmInput(const ConfirmLayout& layout);

}  // namespace kdx
