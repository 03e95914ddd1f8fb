#include "ui/WindowPresenter.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/window.h"
#include "ui/ConfirmView.h"

namespace kdx {
namespace {

// Shows frames painted by `paint` until `input` answers. A display that cannot be reached
// answers as one lost.
int RunWindow(const CString& title, int width, int height, DialogInput& input,
              const std::function<void(CBitmap&)>& paint) {
  ModalWindow window;
  if (!window.Open(title, width, height)) return *input.OnEvent({WindowEvent::Type::kLost});
  CBitmap frame;
  paint(frame);
  window.Present(frame);
  for (;;) {
    const WindowEvent event = window.NextEvent();
    if (event.type == WindowEvent::Type::kExpose) {
      window.Present(frame);
      continue;
    }
    if (const auto answer = input.OnEvent(event)) return *answer;
    paint(frame);  // focus or pressed state may have changed
    window.Present(frame);
  }
}

struct BoxButton {
  int id;
  const char16_t* caption;
};

std::vector<BoxButton> ButtonsFor(UINT type) {
  switch (type & 0xF) {
    case MB_OKCANCEL: return {{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}};
    case MB_YESNO: return {{IDYES, u"Yes"}, {IDNO, u"No"}};
    default: return {{IDOK, u"OK"}};
  }
}

COLORREF AccentFor(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONERROR: return RGB(196, 43, 28);
    case MB_ICONWARNING: return RGB(234, 157, 0);
    case MB_ICONQUESTION:
    case MB_ICONINFORMATION: return RGB(0, 103, 192);
    default: return RGB(255, 255, 255);
  }
}

// A message box's layout: the text on white over a bar of buttons, right-aligned.
struct BoxLayout {
  static constexpr int kMargin = 20, kTextMax = 360, kBar = 46, kButtonW = 80, kButtonH = 26, kGap = 10;
  int width = 0, height = 0;
  RECT text;
  std::vector<DialogButton> buttons;
};

BoxLayout LayOutBox(const MessageBoxRequest& request, const std::vector<BoxButton>& buttons, CFont& font) {
  BoxLayout box;
  CDC measure;
  measure.SelectObject(&font);
  RECT text{BoxLayout::kMargin + 6, BoxLayout::kMargin, BoxLayout::kMargin + 6 + BoxLayout::kTextMax,
            BoxLayout::kMargin};
  measure.DrawText(request.text, &text, DT_CALCRECT | DT_WORDBREAK);
  RECT oneLine = text;
  measure.DrawText(request.text, &oneLine, DT_CALCRECT);
  if (oneLine.right < text.right && oneLine.bottom == text.bottom) text.right = oneLine.right;
  const int buttonsWidth = static_cast<int>(buttons.size()) * (BoxLayout::kButtonW + BoxLayout::kGap);
  box.width = std::max({240, static_cast<int>(text.right) + BoxLayout::kMargin, buttonsWidth + 2 * BoxLayout::kGap});
  box.height = text.bottom + BoxLayout::kMargin + BoxLayout::kBar;
  box.text = text;
  int x = box.width - BoxLayout::kGap - buttonsWidth + BoxLayout::kGap;
  for (const auto& b : buttons) {
    box.buttons.push_back({b.id, {x, box.height - BoxLayout::kBar + 10, BoxLayout::kButtonW, BoxLayout::kButtonH}});
    x += BoxLayout::kButtonW + BoxLayout::kGap;
  }
  return box;
}

void PaintBox(const MessageBoxRequest& request, const BoxLayout& box, const std::vector<BoxButton>& captions,
              const DialogInput& input, CFont& font, CBitmap& out) {
  if (out.Width() != box.width || out.Height() != box.height) out.CreateCompatibleBitmap(box.width, box.height);
  CDC dc;
  dc.SelectObject(&out);
  dc.SelectObject(&font);
  dc.FillSolidRect({0, 0, box.width, box.height}, RGB(255, 255, 255));
  dc.FillSolidRect({0, box.height - BoxLayout::kBar, box.width, box.height}, kDialogFaceColour);
  dc.FillSolidRect({0, 0, 6, box.height - BoxLayout::kBar}, AccentFor(request.type));
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(0, 0, 0));
  RECT text = box.text;
  dc.DrawText(request.text, &text, DT_WORDBREAK);
  for (std::size_t i = 0; i < box.buttons.size(); ++i) {
    const auto& b = box.buttons[i];
    const UINT state = input.StateOf(b.id);
    const RECT r{b.rect.left, b.rect.top, b.rect.left + b.rect.width, b.rect.top + b.rect.height};
    dc.FillSolidRect(r, (state & ODS_FOCUS) ? RGB(0, 120, 215) : RGB(173, 173, 173));
    dc.FillSolidRect({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                     (state & ODS_SELECTED) ? RGB(204, 228, 247) : RGB(225, 225, 225));
    RECT caption = r;
    dc.DrawText(CString(captions[i].caption), &caption, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  }
}

}  // namespace

int WindowConfirmPresenter::Show(const ConfirmRequest& request) {
  ConfirmView view(request);
  view.OnInitDialog();
  DialogInput input = MakeConfirmInput(view.Layout());
  const ConfirmRect& client = view.Layout().client;
  return RunWindow(view.Title(), client.width, client.height, input,
                   [&](CBitmap& frame) { PaintConfirmClient(view, input, frame); });
}

int WindowMessageBoxPresenter::Show(WindowHandle, const MessageBoxRequest& request) {
  const auto buttons = ButtonsFor(request.type);
  // Escape answers Cancel where there is one, OK where OK stands alone, and nothing otherwise.
  const int cancel = (request.type & 0xF) == MB_OKCANCEL ? IDCANCEL : (request.type & 0xF) == MB_YESNO ? 0 : IDOK;
  CFont font;
  font.CreatePointFont(90, CString(u"Tahoma"));
  const BoxLayout box = LayOutBox(request, buttons, font);
  DialogInput input(box.buttons, cancel, cancel != 0 ? cancel : IDNO);
  return RunWindow(request.caption, box.width, box.height, input,
                   [&](CBitmap& frame) { PaintBox(request, box, buttons, input, font, frame); });
}

}  // namespace kdx
