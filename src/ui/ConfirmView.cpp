#include "ui/ConfirmView.h"

#include <algorithm>
#include <utility>

namespace kdx {
namespace {

RECT ToRect(const ConfirmRect& r) { return {r.left, r.top, r.left + r.width, r.top + r.height}; }

constexpr COLORREF kCaptionColour = RGB(38, 50, 64);
constexpr COLORREF kCaptionTextColour = RGB(255, 255, 255);

}  // namespace

ConfirmView::ConfirmView(ConfirmRequest request)
    : m_request(std::move(request)), m_layout(static_cast<int>(m_request.rows.size())) {}

bool ConfirmView::LoadSkin(const char* name, CBrush& brush) {
  for (const auto& path : ConfirmSkinCandidates(name, m_request.imageDirectory.str())) {
    CBitmap bitmap;
    if (bitmap.LoadFromFile(path)) {
      m_loaded.emplace_back(name);
      return brush.CreatePatternBrush(bitmap);
    }
  }
  return false;
}

void ConfirmView::OnInitDialog() {
  if (!LoadSkin(ConfirmTopImage(m_request.kind), m_brTop)) LoadSkin(kConfirmTopFallback, m_brTop);
  LoadSkin("ConfirmBackMiddle.bmp", m_brMiddle);
  LoadSkin("ConfirmBackBottom.bmp", m_brBottom);
  LoadSkin("ConfirmOkUp.bmp", m_brOkUp);
  LoadSkin("ConfirmOkDown.bmp", m_brOkDown);
  LoadSkin("ConfirmCancelUp.bmp", m_brCancelUp);
  LoadSkin("ConfirmCancelDown.bmp", m_brCancelDown);
  m_dcMemory.CreateCompatibleDC(nullptr);
  m_bmpBottom.CreateCompatibleBitmap(m_layout.bottom.width, m_layout.bottom.height);
  m_dcMemory.SelectObject(&m_bmpBottom);
  // A new bitmap is black: without a bottom skin the footer shows the dialog face instead.
  m_dcMemory.FillSolidRect({0, 0, m_layout.bottom.width, m_layout.bottom.height}, kDialogFaceColour);
  m_dcMemory.FillRect({0, 0, m_layout.bottom.width, m_layout.bottom.height}, &m_brBottom);
  m_penSeparator.CreatePen(PS_SOLID, 1, kConfirmSeparatorColour);
  m_fontRow.CreatePointFont(90, CString(u"Tahoma"));
}

void ConfirmView::OnPaint(CDC& dc) {
  m_bLaidOut = 1;  // the presenter sizes the window and places the buttons from Layout()
  dc.FillRect(ToRect(m_layout.middle), &m_brMiddle);
  dc.FillRect(ToRect(m_layout.top), &m_brTop);
  dc.BitBlt(m_layout.bottom.left, m_layout.bottom.top, m_layout.bottom.width, m_layout.bottom.height, m_dcMemory,
            0, 0);
  dc.FillSolidRect(ToRect(m_layout.panel), kConfirmPanelColour);

  CPen* oldPen = dc.SelectObject(&m_penSeparator);
  CFont* oldFont = dc.SelectObject(&m_fontRow);
  dc.SetBkColor(kConfirmPanelColour);
  int y = m_layout.firstRowTop;
  const std::size_t rows = m_request.rows.size();
  for (std::size_t i = 0; i < rows; ++i) {
    const ConfirmRow& row = m_request.rows[i];
    RECT label{ConfirmLayout::kLabelLeft, y, ConfirmLayout::kLabelRight, y + 30};
    RECT value{ConfirmLayout::kValueLeft, y, ConfirmLayout::kValueRight, y + 30};
    dc.DrawText(row.label, &label, DT_CALCRECT | DT_WORDBREAK);
    dc.DrawText(row.value, &value, DT_CALCRECT | DT_WORDBREAK);
    const int bottom = y + 15 + std::max(label.bottom - label.top, value.bottom - value.top);
    label = {ConfirmLayout::kLabelLeft, y + 7, ConfirmLayout::kLabelRight, bottom};
    value = {ConfirmLayout::kValueLeft, y + 7, ConfirmLayout::kValueRight, bottom};
    dc.SetTextColor(row.labelColour);
    dc.DrawText(row.label, &label, DT_WORDBREAK);
    dc.SetTextColor(row.valueColour);
    dc.DrawText(row.value, &value, DT_WORDBREAK);
    if (i + 1 < rows) {
      dc.MoveTo(ConfirmLayout::kLabelLeft, bottom);
      dc.LineTo(ConfirmLayout::kValueRight, bottom);
    }
    y = bottom - 1;
  }
  dc.SelectObject(oldFont);
  dc.SelectObject(oldPen);
}

void ConfirmView::OnDrawItem(CDC& dc, int id, UINT state) {
  const ConfirmRect& button = id == IDOK ? m_layout.orderButton : m_layout.cancelButton;
  if (id != IDOK && id != IDCANCEL) return;
  const bool down = (state & ODS_SELECTED) != 0;
  const CBrush& brush = id == IDOK ? (down ? m_brOkDown : m_brOkUp) : (down ? m_brCancelDown : m_brCancelUp);
  dc.FillRect({0, 0, button.width, button.height}, &brush);
  // The captions are in the bitmaps; only the focus cue is drawn.
  if (state == ODS_FOCUS) dc.DrawFocusRect({3, 3, button.width - 3, button.height - 3});
}

DialogInput::DialogInput(std::vector<DialogButton> buttons, int cancelResult, int lostResult)
    : buttons_(std::move(buttons)), cancelResult_(cancelResult), lostResult_(lostResult) {}

int DialogInput::ButtonAt(int x, int y) const {
  for (const auto& b : buttons_) {
    if (x >= b.rect.left && x < b.rect.left + b.rect.width && y >= b.rect.top && y < b.rect.top + b.rect.height) {
      return b.id;
    }
  }
  return 0;
}

std::optional<int> DialogInput::OnEvent(const WindowEvent& event) {
  using T = WindowEvent::Type;
  const int focused = buttons_.empty() ? 0 : buttons_[focus_].id;
  switch (event.type) {
    case T::kMouseDown:
      if (const int id = ButtonAt(event.x, event.y)) {
        pressed_ = id;
        pressedByKey_ = false;
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
          if (buttons_[i].id == id) focus_ = i;  // a clicked button takes the focus
        }
      }
      return std::nullopt;
    case T::kMouseUp: {
      if (pressedByKey_) return std::nullopt;  // Space holds the button, not the mouse
      const int pressed = std::exchange(pressed_, 0);
      if (pressed != 0 && ButtonAt(event.x, event.y) == pressed) return pressed;
      return std::nullopt;
    }
    case T::kKeyDown:
      if (event.key == WindowKey::kTab && !buttons_.empty() && pressed_ == 0) {
        focus_ = event.shift ? (focus_ + buttons_.size() - 1) % buttons_.size() : (focus_ + 1) % buttons_.size();
      } else if (event.key == WindowKey::kSpace && focused != 0 && pressed_ == 0) {
        pressed_ = focused;
        pressedByKey_ = true;
      } else if (event.key == WindowKey::kEscape && cancelResult_ != 0) {
        return cancelResult_;
      }
      return std::nullopt;  // Enter and other keys are swallowed
    case T::kKeyUp:
      if (event.key == WindowKey::kSpace && pressedByKey_ && std::exchange(pressed_, 0) == focused) return focused;
      return std::nullopt;
    case T::kClose:
      if (cancelResult_ != 0) return cancelResult_;
      return std::nullopt;
    case T::kLost:
      return lostResult_;
    case T::kExpose:
      return std::nullopt;
  }
  return std::nullopt;
}

UINT DialogInput::StateOf(int id) const {
  UINT state = 0;
  if (!buttons_.empty() && buttons_[focus_].id == id) state |= ODS_FOCUS;
  if (pressed_ == id) state |= ODS_SELECTED;
  return state;
}

DialogInput MakeConfirmInput(const ConfirmLayout& layout) {
  return DialogInput({{IDOK, layout.orderButton}, {IDCANCEL, layout.cancelButton}}, IDCANCEL, IDCANCEL);
}

void PaintConfirmClient(ConfirmView& view, const DialogInput& input, CBitmap& out) {
  const ConfirmRect& client = view.Layout().client;
  if (out.Width() != client.width || out.Height() != client.height) {
    out.CreateCompatibleBitmap(client.width, client.height);
  }
  CDC dc;
  dc.SelectObject(&out);
  dc.FillSolidRect(ToRect(client), kDialogFaceColour);
  view.OnPaint(dc);
  for (const auto& button : input.Buttons()) {
    dc.SetViewportOrg(button.rect.left, button.rect.top);
    dc.IntersectClipRect({0, 0, button.rect.width, button.rect.height});
    view.OnDrawItem(dc, button.id, input.StateOf(button.id));
    dc.SelectClipRgn(nullptr);
  }
}

bool RenderConfirmDialog(const ConfirmRequest& request, CBitmap& out) {
  ConfirmView view(request);
  view.OnInitDialog();
  const ConfirmLayout& layout = view.Layout();
  const DialogInput input = MakeConfirmInput(layout);
  CBitmap client;
  PaintConfirmClient(view, input, client);
  if (!out.CreateCompatibleBitmap(layout.window.width, layout.window.height)) return false;
  CDC dc;
  dc.SelectObject(&out);
  dc.FillSolidRect(ToRect(layout.window), kCaptionColour);
  CFont captionFont;
  captionFont.CreatePointFont(90, CString(u"Tahoma"));
  dc.SelectObject(&captionFont);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(kCaptionTextColour);
  RECT caption{8, 0, layout.window.width - 24, ConfirmLayout::kFrameTop};
  dc.DrawText(request.title, &caption, DT_SINGLELINE | DT_VCENTER);
  RECT close{layout.window.width - 22, 0, layout.window.width - 4, ConfirmLayout::kFrameTop};
  dc.DrawText(CString(u"\u2715"), &close, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  CDC clientDc;
  clientDc.SelectObject(&client);
  dc.BitBlt(ConfirmLayout::kFrameSide, ConfirmLayout::kFrameTop, client.Width(), client.Height(), clientDc, 0, 0);
  return true;
}

bool RenderConfirmDialogPng(const ConfirmRequest& request, const std::string& path) {
  CBitmap image;
  return RenderConfirmDialog(request, image) && image.SavePng(path);
}

}  // namespace kdx
